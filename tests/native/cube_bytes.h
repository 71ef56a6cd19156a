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

// A run on the line: the start byte, `frames` copies of `frame`, and the stop byte if `stop`.
inline Bytes run(const Bytes& frame, size_t frames, bool stop) {
    Bytes line{kCubeStartByte};
    for (size_t i = 0; i < frames; ++i)
        line = line + frame;
    if (stop)
        line.push_back(kCubeStopByte);
    return line;
}

// How many copies of `frame` the line carries if it is exactly such a run; -1 otherwise.
inline long framesOfRun(const Bytes& line, const Bytes& frame, bool stop) {
    size_t ends = stop ? 2 : 1;
    if (frame.empty() || line.size() < ends || (line.size() - ends) % frame.size() != 0)
        return -1;
    size_t frames = (line.size() - ends) / frame.size();
    return line == run(frame, frames, stop) ? (long)frames : -1;
}

// The line from its last start byte on (no frame byte is 0x4C); empty when it has none.
inline Bytes fromLastStart(const Bytes& line) {
    for (size_t at = line.size(); at-- > 0;)
        if (line[at] == kCubeStartByte)
            return Bytes(line.begin() + (std::ptrdiff_t)at, line.end());
    return Bytes();
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
