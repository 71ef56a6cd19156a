// What the cube stream parser guarantees for any input at all. The fuzzer checks it on
// generated inputs; the unit tests replay the committed corpus through the same check.
#pragma once

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "cube_stream.h"

inline std::string describeEvents(const std::vector<StreamEvent>& events) {
    std::string text;
    for (const StreamEvent& e : events)
        text += std::to_string((int)e.kind) + "@" + std::to_string(e.offset) + "+" +
                std::to_string(e.length) + " ";
    return text;
}

inline bool isGoodFrameAt(const unsigned char* data, size_t size, size_t at) {
    if (at + kCubeFrameSize > size || data[at] != kFrameStartByte ||
        data[at + kCubeFrameSize - 1] != kFrameEndByte)
        return false;
    for (int i = 1; i <= kCubePayloadSize; ++i)
        if (data[at + i] > kRowMask)
            return false;
    return true;
}

// Empty when every guarantee holds, otherwise the first one broken.
inline std::string streamInvariantViolation(const unsigned char* data, size_t size) {
    CubeStreamParser whole;
    std::vector<StreamEvent> events;
    whole.feed(data, size, events);
    const StreamCounts& c = whole.counts();
    if (c.bytes != size)
        return "bytes counted " + std::to_string(c.bytes) + " of " + std::to_string(size);
    auto accounted = [&](const CubeStreamParser& parser) {
        const StreamCounts& n = parser.counts();
        return n.bytes == kCubeFrameSize * (n.frames + n.rejected) + n.starts + n.stops +
                              n.skipped + parser.pending();
    };
    if (!accounted(whole))
        return "bytes not accounted for before flush";
    whole.flush(events);
    if (whole.pending() != 0 || !accounted(whole))
        return "bytes not accounted for after flush";

    // Events tile the stream: each starts where the one before ended, nothing is left out.
    uint64_t next = 0;
    StreamCounts seen;
    std::set<uint64_t> frameOffsets;
    for (const StreamEvent& e : events) {
        if (e.offset != next)
            return "event at " + std::to_string(e.offset) + ", expected " + std::to_string(next);
        next += e.length;
        bool framed = e.kind == StreamEventKind::Frame || e.kind == StreamEventKind::Rejected;
        if (framed && (e.length != kCubeFrameSize || data[e.offset] != kFrameStartByte ||
                       data[e.offset + kCubeFrameSize - 1] != kFrameEndByte))
            return "frame event at " + std::to_string(e.offset) + " is not 0x2A ... 0x7E";
        if (e.kind == StreamEventKind::Frame) {
            ++seen.frames;
            frameOffsets.insert(e.offset);
        }
        seen.rejected += e.kind == StreamEventKind::Rejected;
        seen.starts += e.kind == StreamEventKind::Start;
        seen.stops += e.kind == StreamEventKind::Stop;
        seen.skipped += e.kind == StreamEventKind::Skipped ? e.length : 0;
    }
    if (next != size)
        return "events cover " + std::to_string(next) + " of " + std::to_string(size) + " bytes";
    if (seen.frames != c.frames || seen.rejected != c.rejected || seen.starts != c.starts ||
        seen.stops != c.stops || seen.skipped != c.skipped)
        return "events disagree with the counts";

    // Every good frame on the line is found, whatever garbage surrounds it.
    std::set<uint64_t> goodFrames;
    for (size_t at = 0; at < size; ++at)
        if (isGoodFrameAt(data, size, at))
            goodFrames.insert(at);
    if (goodFrames != frameOffsets)
        return "found " + std::to_string(frameOffsets.size()) + " frames, the line holds " +
               std::to_string(goodFrames.size());

    // How the bytes arrive in reads changes nothing.
    for (size_t chunk = 1; chunk <= 8; ++chunk) {
        CubeStreamParser pieces;
        std::vector<StreamEvent> pieceEvents;
        for (size_t at = 0; at < size; at += chunk)
            pieces.feed(data + at, std::min(chunk, size - at), pieceEvents);
        pieces.flush(pieceEvents);
        if (describeEvents(pieceEvents) != describeEvents(events))
            return "reads of " + std::to_string(chunk) + " bytes give other events";
    }
    return "";
}
