// Reads the cube's line the way the cube's firmware has to: 27-byte frames (0x2A, 25 payload
// bytes, 0x7E) and the single bytes 0x4C and 0x4E between them. Platform-free, so the fuzzer
// and the unit tests drive exactly the code that cubeview runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames.h"

enum class StreamEventKind {
    Frame,    // a complete frame with every payload byte at most 31
    Rejected, // 0x2A ... 0x7E, 27 bytes, but some payload byte above 31
    Start,    // the single byte 0x4C
    Stop,     // the single byte 0x4E
    Skipped,  // a run of bytes that belong to nothing
};

struct StreamEvent {
    StreamEventKind kind;
    uint64_t offset; // position in the stream of the event's first byte
    uint64_t length; // bytes covered: 27 for frames, the run length for skipped bytes
    unsigned char payload[kCubePayloadSize]; // frames and rejected frames only
};

struct StreamCounts {
    uint64_t bytes = 0; // every byte fed in
    uint64_t frames = 0;
    uint64_t rejected = 0;
    uint64_t starts = 0;
    uint64_t stops = 0;
    uint64_t skipped = 0;
};

// Every fed byte ends up in exactly one place: a frame, a rejected frame, a single byte, the
// skipped count, or (until more bytes arrive or flush() is called) the pending candidate:
//   bytes == 27 * (frames + rejected) + starts + stops + skipped + pending()
class CubeStreamParser {
  public:
    // Appends the events the bytes complete, in stream order. Frames may be split anywhere.
    void feed(const unsigned char* data, size_t size, std::vector<StreamEvent>& events);
    // The line went quiet or ended: a frame still incomplete will never complete, so its bytes
    // are parsed again as if it had never started (a stop byte after a truncated frame counts).
    void flush(std::vector<StreamEvent>& events);

    const StreamCounts& counts() const { return counts_; }
    size_t pending() const { return length_; }

  private:
    void step(unsigned char byte, uint64_t offset, std::vector<StreamEvent>& events);
    void completeCandidate(std::vector<StreamEvent>& events);
    void dropCandidateStart(std::vector<StreamEvent>& events);
    void skip(uint64_t offset, std::vector<StreamEvent>& events);

    unsigned char candidate_[kCubeFrameSize] = {};
    size_t length_ = 0;
    uint64_t candidateOffset_ = 0;
    StreamCounts counts_;
};
