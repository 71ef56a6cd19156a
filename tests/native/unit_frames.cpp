// The pattern tables: a wrong number in a table shows up here as a broken invariant.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <tuple>

#include "frames.h"

namespace {

using Led = std::tuple<int, int, int>; // plane 1..5, row 1..5, bit 0..4

std::set<Led> litLeds(const unsigned char* payload) {
    std::set<Led> leds;
    for (int plane = 1; plane <= kCubePlanes; ++plane)
        for (int row = 1; row <= kCubeRows; ++row)
            for (int bit = 0; bit < kCubeColumns; ++bit)
                if (payload[frameOffset(plane, row) - 1] & (1 << bit))
                    leds.insert({plane, row, bit});
    return leds;
}

std::set<Led> litLeds(CubePattern pattern, int index) {
    return litLeds(patternPayload(pattern, index));
}

const CubePattern kAllPatterns[] = {kPatternStar, kPatternLevels, kPatternNewStar};

TEST(FrameTables, EveryFrameIsDelimitedAndHasNoPayloadByteAbove31) {
    for (CubePattern pattern : kAllPatterns) {
        for (int index = 0; index < patternFrameCount(pattern); ++index) {
            CubeFrame frame;
            buildCubeFrame(pattern, index, &frame);
            EXPECT_EQ(frame.bytes[0], 0x2A) << patternName(pattern) << " " << index;
            EXPECT_EQ(frame.bytes[26], 0x7E) << patternName(pattern) << " " << index;
            for (int offset = 1; offset <= kCubePayloadSize; ++offset)
                EXPECT_LE(frame.bytes[offset], 31)
                    << patternName(pattern) << " frame " << index << " offset " << offset;
        }
    }
}

TEST(FrameTables, LitCountsPerFrame) {
    const std::vector<size_t> star = {0, 1, 7, 13};
    const std::vector<size_t> levels = {0, 25, 50, 75, 100, 125};
    std::vector<size_t> newStar = {0};
    for (size_t lit = 1; lit <= 29; lit += 2)
        newStar.push_back(lit);
    const std::pair<CubePattern, std::vector<size_t>> cases[] = {
        {kPatternStar, star}, {kPatternLevels, levels}, {kPatternNewStar, newStar}};
    for (const auto& [pattern, counts] : cases) {
        ASSERT_EQ(patternFrameCount(pattern), (int)counts.size()) << patternName(pattern);
        for (size_t index = 0; index < counts.size(); ++index)
            EXPECT_EQ(litLeds(pattern, (int)index).size(), counts[index])
                << patternName(pattern) << " frame " << index;
    }
}

TEST(FrameTables, EachFrameLightsEveryLedOfTheOneBefore) {
    for (CubePattern pattern : kAllPatterns) {
        for (int index = 1; index < patternFrameCount(pattern); ++index) {
            std::set<Led> before = litLeds(pattern, index - 1);
            std::set<Led> after = litLeds(pattern, index);
            for (const Led& led : before)
                EXPECT_TRUE(after.count(led))
                    << patternName(pattern) << " frame " << index << " turns off an LED";
        }
    }
}

TEST(FrameTables, NewStarAddsTwoLedsOppositeThroughTheCentre) {
    EXPECT_EQ(litLeds(kPatternNewStar, 1), std::set<Led>({{3, 3, 2}}));
    for (int index = 2; index < patternFrameCount(kPatternNewStar); ++index) {
        std::set<Led> added;
        std::set<Led> before = litLeds(kPatternNewStar, index - 1);
        for (const Led& led : litLeds(kPatternNewStar, index))
            if (!before.count(led))
                added.insert(led);
        ASSERT_EQ(added.size(), 2u) << "frame " << index;
        auto [p1, r1, b1] = *added.begin();
        auto [p2, r2, b2] = *added.rbegin();
        EXPECT_TRUE(p1 + p2 == 6 && r1 + r2 == 6 && b1 + b2 == 4)
            << "frame " << index << " adds LEDs that are not opposite through the centre";
    }
}

// Every lit LED of the fullest frames lies on a line of five through the centre.
TEST(FrameTables, FullestStarsLightWholeLinesThroughTheCentre) {
    std::set<Led> star, newStar;
    for (int step = -2; step <= 2; ++step) {
        star.insert({3 + step, 3, 2}); // along the planes
        star.insert({3, 3 + step, 2}); // along the rows
        star.insert({3, 3, 2 + step}); // along the bits
        newStar.insert({3 + step, 3, 2});
        newStar.insert({3, 3 + step, 2 - step}); // the two diagonals of plane 3
        newStar.insert({3, 3 + step, 2 + step});
        newStar.insert({3 + step, 3 + step, 2 + step}); // the four space diagonals
        newStar.insert({3 + step, 3 + step, 2 - step});
        newStar.insert({3 + step, 3 - step, 2 + step});
        newStar.insert({3 + step, 3 - step, 2 - step});
    }
    EXPECT_EQ(litLeds(kPatternStar, 3), star);
    EXPECT_EQ(litLeds(kPatternNewStar, 15), newStar);
}

TEST(FrameTables, StarForLevels25To49MatchesTheWorkedExample) {
    CubeFrame frame;
    buildCubeFrame(kPatternStar, 2, &frame);
    const unsigned char expected[kCubeFrameSize] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 4,   14,
                                                    4,    0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0x7E};
    EXPECT_EQ(std::vector<unsigned char>(frame.bytes, frame.bytes + kCubeFrameSize),
              std::vector<unsigned char>(expected, expected + kCubeFrameSize));
}

TEST(PlanesFrame, EachBitLightsItsOwnLedAndBitsAbove24NoLed) {
    CubeFrame frame;
    for (int plane = 1; plane <= kCubePlanes; ++plane)
        for (int row = 1; row <= kCubeRows; ++row)
            for (int bit = 0; bit < kCubeColumns; ++bit) {
                CubePlanes planes = {};
                planes.plane[plane - 1] = planeBit(row, bit);
                buildPlanesFrame(planes, &frame);
                EXPECT_EQ(litLeds(frame.bytes + 1), std::set<Led>({{plane, row, bit}}))
                    << "plane " << plane << " row " << row << " bit " << bit;
            }
    const struct {
        int plane; // the same in all five
        size_t lit;
    } cases[] = {
        {0x1FFFFFF, 125}, {-1, 125}, {INT_MAX, 125}, {~0x1FFFFFF, 0}, {INT_MIN, 0}, {0, 0},
    };
    for (const auto& c : cases) {
        buildPlanesFrame(CubePlanes{{c.plane, c.plane, c.plane, c.plane, c.plane}}, &frame);
        EXPECT_EQ(frame.bytes[0], 0x2A);
        EXPECT_EQ(frame.bytes[26], 0x7E);
        EXPECT_EQ(litLeds(frame.bytes + 1).size(), c.lit) << "every plane " << c.plane;
    }
}

struct Selection {
    CubePattern pattern;
    int level;
    int frame;
};

TEST(FrameSelection, BandEdgesAndExtremes) {
    const Selection cases[] = {
        {kPatternStar, INT_MIN, 0},   {kPatternStar, -1, 0},          {kPatternStar, 0, 0},
        {kPatternStar, 9, 0},         {kPatternStar, 10, 1},          {kPatternStar, 24, 1},
        {kPatternStar, 25, 2},        {kPatternStar, 49, 2},          {kPatternStar, 50, 3},
        {kPatternStar, 127, 3},       {kPatternStar, INT_MAX, 3},     {kPatternLevels, INT_MIN, 0},
        {kPatternLevels, -1, 0},      {kPatternLevels, 9, 0},         {kPatternLevels, 10, 1},
        {kPatternLevels, 24, 1},      {kPatternLevels, 25, 2},        {kPatternLevels, 34, 2},
        {kPatternLevels, 35, 3},      {kPatternLevels, 49, 3},        {kPatternLevels, 50, 4},
        {kPatternLevels, 74, 4},      {kPatternLevels, 75, 5},        {kPatternLevels, 127, 5},
        {kPatternLevels, INT_MAX, 5}, {kPatternNewStar, INT_MIN, 0},  {kPatternNewStar, -1, 0},
        {kPatternNewStar, 6, 0},      {kPatternNewStar, 7, 1},        {kPatternNewStar, 13, 1},
        {kPatternNewStar, 14, 2},     {kPatternNewStar, 104, 14},     {kPatternNewStar, 105, 15},
        {kPatternNewStar, 127, 15},   {kPatternNewStar, INT_MAX, 15},
    };
    for (const Selection& c : cases)
        EXPECT_EQ(frameIndexForLevel(c.pattern, c.level), c.frame)
            << patternName(c.pattern) << " level " << c.level;
}

TEST(FrameSelection, NewStarIsTheLevelOverSevenCappedAt15) {
    for (int level = 0; level <= 1000; ++level)
        ASSERT_EQ(frameIndexForLevel(kPatternNewStar, level), std::min(level / 7, 15))
            << "level " << level;
}

TEST(FrameSelection, ThePluginsRangeReachesEveryFrameAndNeverDims) {
    for (CubePattern pattern : kAllPatterns) {
        std::set<int> seen;
        int previous = 0;
        for (int level = 0; level <= 127; ++level) {
            int frame = frameIndexForLevel(pattern, level);
            EXPECT_GE(frame, previous) << patternName(pattern) << " level " << level;
            previous = frame;
            seen.insert(frame);
        }
        EXPECT_EQ((int)seen.size(), patternFrameCount(pattern)) << patternName(pattern);
    }
}

} // namespace
