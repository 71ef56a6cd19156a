#include "frames.h"

// Each row is one frame's payload, five bytes per plane, plane 1 first; the comment says what
// the frame lights. Every frame lights all the LEDs of the frame before it, and more.
// clang-format off
static const unsigned char kStarFrames[4][kCubePayloadSize] = {
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // dark
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // the centre LED
    { 0,  0,  0,  0,  0,    0,  0,  4,  0,  0,    0,  4, 14,  4,  0,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0}, // centre and its six neighbours
    { 0,  0,  4,  0,  0,    0,  0,  4,  0,  0,    4,  4, 31,  4,  4,    0,  0,  4,  0,  0,    0,  0,  4,  0,  0}, // the three lines of five through the centre
};
static const int kStarThresholds[] = {10, 25, 50};

static const unsigned char kLevelsFrames[6][kCubePayloadSize] = {
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // dark
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,   31, 31, 31, 31, 31}, // plane 5
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31}, // planes 4 and 5
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31}, // planes 3 to 5
    { 0,  0,  0,  0,  0,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31}, // planes 2 to 5
    {31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31,   31, 31, 31, 31, 31}, // all 125 LEDs
};
static const int kLevelsThresholds[] = {10, 25, 35, 50, 75};

// NewStar grows two LEDs at a time, opposite each other through the centre.
static const unsigned char kNewStarFrames[16][kCubePayloadSize] = {
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // dark
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // the centre LED
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0,  8,  4,  2,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // + one diagonal of plane 3, one step
    { 0,  0,  0,  0,  0,    0,  0,  0,  0,  0,    0, 10,  4, 10,  0,    0,  0,  0,  0,  0,    0,  0,  0,  0,  0}, // + the other diagonal of plane 3, one step
    { 0,  0,  0,  0,  0,    0,  0,  4,  0,  0,    0, 10,  4, 10,  0,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0}, // + the line along the planes, one step
    { 0,  0,  0,  0,  0,    0,  0,  4,  0,  0,    1, 10,  4, 10, 16,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0}, // + first plane-3 diagonal, two steps
    { 0,  0,  0,  0,  0,    0,  0,  4,  0,  0,   17, 10,  4, 10, 17,    0,  0,  4,  0,  0,    0,  0,  0,  0,  0}, // + second plane-3 diagonal, two steps
    { 0,  0,  4,  0,  0,    0,  0,  4,  0,  0,   17, 10,  4, 10, 17,    0,  0,  4,  0,  0,    0,  0,  4,  0,  0}, // + the line along the planes, two steps
    { 0,  0,  4,  0,  0,    0,  0,  4,  8,  0,   17, 10,  4, 10, 17,    0,  2,  4,  0,  0,    0,  0,  4,  0,  0}, // + first space diagonal, one step
    { 0,  0,  4,  0,  0,    0,  2,  4,  8,  0,   17, 10,  4, 10, 17,    0,  2,  4,  8,  0,    0,  0,  4,  0,  0}, // + second space diagonal, one step
    { 0,  0,  4,  0,  0,    0,  2,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4,  8,  0,    0,  0,  4,  0,  0}, // + third space diagonal, one step
    { 0,  0,  4,  0,  0,    0, 10,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4, 10,  0,    0,  0,  4,  0,  0}, // + fourth space diagonal, one step
    { 1,  0,  4,  0,  0,    0, 10,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4, 10,  0,    0,  0,  4,  0, 16}, // + corners (1,1,0) and (5,5,4)
    {17,  0,  4,  0,  0,    0, 10,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4, 10,  0,    0,  0,  4,  0, 17}, // + corners (1,1,4) and (5,5,0)
    {17,  0,  4,  0,  1,    0, 10,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4, 10,  0,   16,  0,  4,  0, 17}, // + corners (1,5,0) and (5,1,4)
    {17,  0,  4,  0, 17,    0, 10,  4, 10,  0,   17, 10,  4, 10, 17,    0, 10,  4, 10,  0,   17,  0,  4,  0, 17}, // + corners (1,5,4) and (5,1,0): seven lines of five
};
static const int kNewStarThresholds[] = {7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77, 84, 91, 98, 105};
// clang-format on

struct PatternTable {
    const char* name;
    const unsigned char (*frames)[kCubePayloadSize];
    const int* thresholds;
    int frameCount; // one more than the thresholds
};

static const PatternTable kPatterns[kPatternCount] = {
    {"Star", kStarFrames, kStarThresholds, 4},           // Star: a cross growing from the centre
    {"Levels", kLevelsFrames, kLevelsThresholds, 6},     // Levels: whole planes from plane 5
    {"NewStar", kNewStarFrames, kNewStarThresholds, 16}, // NewStar: seven lines, two LEDs a step
};

static bool isPattern(CubePattern pattern) {
    return pattern >= 0 && pattern < kPatternCount;
}

const char* patternName(CubePattern pattern) {
    return isPattern(pattern) ? kPatterns[pattern].name : nullptr;
}

int patternFrameCount(CubePattern pattern) {
    return isPattern(pattern) ? kPatterns[pattern].frameCount : 0;
}

int frameIndexForLevel(CubePattern pattern, int level) {
    const PatternTable& table = kPatterns[pattern];
    int index = 0;
    while (index < table.frameCount - 1 && table.thresholds[index] <= level)
        ++index;
    return index;
}

const unsigned char* patternPayload(CubePattern pattern, int index) {
    return kPatterns[pattern].frames[index];
}

void buildCubeFrame(CubePattern pattern, int index, CubeFrame* frame) {
    const unsigned char* payload = patternPayload(pattern, index);
    frame->bytes[0] = kFrameStartByte;
    for (int i = 0; i < kCubePayloadSize; ++i)
        frame->bytes[1 + i] = payload[i];
    frame->bytes[kCubeFrameSize - 1] = kFrameEndByte;
}

void buildPlanesFrame(const CubePlanes& planes, CubeFrame* frame) {
    frame->bytes[0] = kFrameStartByte;
    for (int plane = 0; plane < kCubePlanes; ++plane) {
        unsigned bits = (unsigned)planes.plane[plane];
        for (int row = 0; row < kCubeRows; ++row)
            frame->bytes[1 + plane * kCubeRows + row] =
                (unsigned char)((bits >> (5 * row)) & kRowMask);
    }
    frame->bytes[kCubeFrameSize - 1] = kFrameEndByte;
}
