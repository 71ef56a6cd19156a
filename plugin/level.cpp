#include "level.h"

int channelLevel(const unsigned char* samples) {
    // Two overlapping runs of the block, one sample apart, with independent byte differences:
    // the compiler turns this into packed absolute differences. The sum is at most
    // 575 * 255, far inside an unsigned int.
    const unsigned char* previous = samples;
    const unsigned char* current = samples + 1;
    unsigned sum = 0;
    for (int i = 0; i < kLevelSamples - 1; ++i) {
        unsigned char a = previous[i];
        unsigned char b = current[i];
        sum += a > b ? (unsigned)(a - b) : (unsigned)(b - a);
    }
    unsigned level = sum / kLevelDivisor;
    return level > kLevelMax ? kLevelMax : (int)level;
}
