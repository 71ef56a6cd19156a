// The cube's wire format and the three pattern tables. Platform-free: the DLL, the native
// tools (cubeview) and the native unit tests share this code.
#pragma once

// A frame: start byte, one payload byte per row of five LEDs (5 planes x 5 rows), end byte.
// Bit b of the byte for plane p, row r lights the LED in column b of that row.
enum {
    kCubeFrameSize = 27,
    kCubePayloadSize = 25,
    kCubePlanes = 5,
    kCubeRows = 5,
    kCubeColumns = 5,
};

static const unsigned char kFrameStartByte = 0x2A; // '*'
static const unsigned char kFrameEndByte = 0x7E;   // '~'
static const unsigned char kRowMask = 0x1F;        // payload bytes never exceed 31
// Single bytes the plugin sends outside any frame.
static const unsigned char kCubeStartByte = 0x4C; // 'L', right after the port is opened
static const unsigned char kCubeStopByte = 0x4E;  // 'N', right before the port is closed

struct CubeFrame {
    unsigned char bytes[kCubeFrameSize];
};

enum CubePattern {
    kPatternStar,
    kPatternLevels,
    kPatternNewStar,
    kPatternCount,
};

// "Star", "Levels", "NewStar"; null for anything else.
const char* patternName(CubePattern pattern);
int patternFrameCount(CubePattern pattern);

// The frame a level selects: the number of the pattern's thresholds that are less than or
// equal to the level, compared signed. Any int is accepted.
int frameIndexForLevel(CubePattern pattern, int level);

// The 25 payload bytes of frame `index` of the pattern (0 <= index < patternFrameCount).
const unsigned char* patternPayload(CubePattern pattern, int index);

// Fills a complete frame: start byte, payload, end byte.
void buildCubeFrame(CubePattern pattern, int index, CubeFrame* frame);

// A frame of the caller's own choosing: one int per plane, plane 1 first. Bit 5 x (row - 1) +
// column bit of a plane's int lights the LED at that row (1..5) and column bit (0..4); bits above
// 24 mean nothing, so any int makes a valid frame.
struct CubePlanes {
    int plane[kCubePlanes];
};

// The bit of a plane's int for the LED at row (1..5) and column bit (0..4).
inline int planeBit(int row, int column) {
    return 1 << (5 * (row - 1) + column);
}

// Fills a complete frame from five planes: row r of plane p is bits 5 x (r - 1) to 5 x r - 1 of
// plane p's int, so no payload byte exceeds 31.
void buildPlanesFrame(const CubePlanes& planes, CubeFrame* frame);

// Offset of the byte for plane (1..5) and row (1..5) within a whole frame.
inline int frameOffset(int plane, int row) {
    return 5 * (plane - 1) + row;
}
