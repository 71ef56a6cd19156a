#include "cube_stream.h"

#include <cstring>

// A frame candidate collects 27 bytes from a 0x2A whatever they are, and only then is judged.
// Judging early (say, at the first byte above 31) would misfile a frame whose payload was
// corrupted on the line: with the end byte in place it is a rejected frame, not garbage.
// When the 27th byte is not 0x7E the candidate was a truncated frame or garbage; only its 0x2A
// is dropped and the other 26 bytes are parsed again, so a good frame that began inside it is
// still found. Those 26 bytes cannot complete a candidate by themselves, so the re-parse never
// nests.

void CubeStreamParser::feed(const unsigned char* data, size_t size,
                            std::vector<StreamEvent>& events) {
    for (size_t i = 0; i < size; ++i)
        step(data[i], counts_.bytes++, events);
}

void CubeStreamParser::flush(std::vector<StreamEvent>& events) {
    while (length_ > 0)
        dropCandidateStart(events);
}

void CubeStreamParser::step(unsigned char byte, uint64_t offset, std::vector<StreamEvent>& events) {
    if (length_ > 0) {
        candidate_[length_++] = byte;
        if (length_ == kCubeFrameSize)
            completeCandidate(events);
        return;
    }
    if (byte == kFrameStartByte) {
        candidate_[0] = byte;
        length_ = 1;
        candidateOffset_ = offset;
    } else if (byte == kCubeStartByte || byte == kCubeStopByte) {
        bool start = byte == kCubeStartByte;
        ++(start ? counts_.starts : counts_.stops);
        StreamEvent event = {start ? StreamEventKind::Start : StreamEventKind::Stop, offset, 1, {}};
        events.push_back(event);
    } else {
        skip(offset, events);
    }
}

void CubeStreamParser::completeCandidate(std::vector<StreamEvent>& events) {
    if (candidate_[kCubeFrameSize - 1] != kFrameEndByte) {
        dropCandidateStart(events);
        return;
    }
    bool clean = true;
    for (int i = 1; i <= kCubePayloadSize; ++i)
        clean = clean && candidate_[i] <= kRowMask;
    ++(clean ? counts_.frames : counts_.rejected);
    StreamEvent event = {clean ? StreamEventKind::Frame : StreamEventKind::Rejected,
                         candidateOffset_,
                         kCubeFrameSize,
                         {}};
    std::memcpy(event.payload, candidate_ + 1, kCubePayloadSize);
    events.push_back(event);
    length_ = 0;
}

void CubeStreamParser::dropCandidateStart(std::vector<StreamEvent>& events) {
    unsigned char rest[kCubeFrameSize];
    size_t restLength = length_ - 1;
    uint64_t restOffset = candidateOffset_ + 1;
    std::memcpy(rest, candidate_ + 1, restLength);
    length_ = 0;
    skip(candidateOffset_, events);
    for (size_t i = 0; i < restLength; ++i)
        step(rest[i], restOffset + i, events);
}

void CubeStreamParser::skip(uint64_t offset, std::vector<StreamEvent>& events) {
    ++counts_.skipped;
    if (!events.empty()) {
        StreamEvent& last = events.back();
        if (last.kind == StreamEventKind::Skipped && last.offset + last.length == offset) {
            ++last.length;
            return;
        }
    }
    StreamEvent event = {StreamEventKind::Skipped, offset, 1, {}};
    events.push_back(event);
}
