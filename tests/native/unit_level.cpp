// The level of one channel: a wrong divisor, a signed read of a byte or an off-by-one in the
// run of differences shows up here as a wrong level on the cube.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "level.h"

namespace {

using Block = std::vector<unsigned char>;

Block blockOf(const std::function<int(int)>& sampleAt) {
    Block block(kLevelSamples);
    for (int i = 0; i < kLevelSamples; ++i)
        block[i] = (unsigned char)sampleAt(i);
    return block;
}

Block alternating(int low, int high) {
    return blockOf([=](int i) { return i % 2 ? high : low; });
}

// The reference the DLL must agree with, written as plainly as possible.
int naiveLevel(const Block& block) {
    int sum = 0;
    for (int i = 1; i < kLevelSamples; ++i)
        sum += std::abs((int)block[i] - (int)block[i - 1]);
    return sum / 288 > 127 ? 127 : sum / 288;
}

// A block whose sum of differences is exactly `sum`: a staircase of steps up from 0, each at
// most 255, then flat.
Block withSum(int sum) {
    Block block(kLevelSamples, 0);
    int value = 0;
    for (int i = 1; i < kLevelSamples; ++i) {
        int step = std::min(sum, 255);
        if (value + step > 255)
            step = -std::min(sum, value); // go back down when the top is reached
        value += step;
        sum -= std::abs(step);
        block[i] = (unsigned char)value;
    }
    return block;
}

struct LevelCase {
    const char* name;
    Block block;
    int level;
};

TEST(ChannelLevel, MatchesTheKnownBlocks) {
    const LevelCase cases[] = {
        {"every sample equal", Block(kLevelSamples, 77), 0},
        {"alternating 0/1: sum 575", alternating(0, 1), 1},
        {"alternating 0/2: sum 1150", alternating(0, 2), 3},
        {"alternating 0/63: sum 36225", alternating(0, 63), 125},
        {"alternating 0/64: sum 36800, clamped", alternating(0, 64), 127},
        {"alternating 0/255: 509 before the clamp", alternating(0, 255), 127},
        {"alternating 255/0", alternating(255, 0), 127},
        {"one jump from 0 to 255 halfway counts once",
         blockOf([](int i) { return i < 288 ? 0 : 255; }), 0},
        // Read unsigned, the wrap from 255 to 0 of a rising ramp is a step of 255, not 1:
        // 573 steps of 1 and 2 of 255.
        {"rising ramp with two 255-to-0 steps", blockOf([](int i) { return i % 256; }), 1083 / 288},
        {"steps of 255 down to 0 every 8 samples", blockOf([](int i) { return i % 8 ? 0 : 255; }),
         143 * 255 / 288},
        {"sum 287 truncates to 0", withSum(287), 0},
        {"sum 288 is level 1", withSum(288), 1},
        {"sum 127 * 288 is exactly the top", withSum(127 * 288), 127},
        {"sum 127 * 288 - 1 stays below it", withSum(127 * 288 - 1), 126},
    };
    for (const LevelCase& c : cases) {
        ASSERT_EQ(c.block.size(), (size_t)kLevelSamples) << c.name;
        EXPECT_EQ(channel_level(c.block.data()), c.level) << c.name;
        EXPECT_EQ(naiveLevel(c.block), c.level) << c.name << " (the reference disagrees)";
    }
}

TEST(ChannelLevel, ReadsExactlyTheBlockAndNothingAfterIt) {
    Block longer = alternating(0, 1);
    longer.push_back(255); // a 577th byte must not count
    EXPECT_EQ(channel_level(longer.data()), 1);
}

TEST(ChannelLevel, AgreesWithTheNaiveSumOnRandomBlocks) {
    std::mt19937 random(20261207);
    // Full-range noise clamps, so most blocks are drawn with a small amplitude around a
    // random centre, which spreads the levels over the whole 0..127 range.
    for (int round = 0; round < 2000; ++round) {
        int amplitude = round % 10 == 0 ? 255 : (int)(random() % 160);
        int centre = (int)(random() % 256);
        Block block = blockOf([&](int) {
            int offset = amplitude ? (int)(random() % (amplitude + 1)) - amplitude / 2 : 0;
            return (centre + offset) & 0xFF;
        });
        ASSERT_EQ(channel_level(block.data()), naiveLevel(block)) << "round " << round;
    }
}

} // namespace
