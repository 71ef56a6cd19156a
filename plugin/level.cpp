#include "level.h"

#include <stdlib.h>

// Written as a plain sum of absolute byte differences between the block and itself shifted by
// one sample, the form the compiler turns into packed sum-of-absolute-differences instructions
// once vectorising (see CMakeLists.txt). The sum is at most 575 * 255, far inside an int.
int channelLevel(const unsigned char* samples) {
    const unsigned char* previous = samples;
    const unsigned char* current = samples + 1;
    int sum = 0;
    for (int i = 0; i < kLevelSamples - 1; ++i)
        sum += abs(current[i] - previous[i]);
    int level = sum / kLevelDivisor;
    return level > kLevelMax ? kLevelMax : level;
}
