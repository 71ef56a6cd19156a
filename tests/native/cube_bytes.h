// Bytes on the cube's line, as the tests build and print them: the frames come from the same
// tables the cube library sends.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "frames.h"

namespace cubebytes {

using Bytes = std::vector<unsigned char>;

// The 27 bytes of frame `index` of a pattern.
inline Bytes frameBytes(CubePattern pattern, int index) {
    CubeFrame frame;
    buildCubeFrame(pattern, index, &frame);
    return Bytes(frame.bytes, frame.bytes + kCubeFrameSize);
}

// The 27 bytes the cube gets for a level in a pattern.
inline Bytes frameFor(CubePattern pattern, int level) {
    return frameBytes(pattern, frameIndexForLevel(pattern, level));
}

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "2a 00 ... 7e": bytes as hex, for failure messages.
inline std::string hex(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

} // namespace cubebytes
