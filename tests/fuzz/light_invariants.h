// What the E1.31 and DDP parsers and the light receiver guarantee for any datagrams at all. The
// fuzzer checks it on generated inputs; the unit tests replay the committed corpus through the
// same check.
//
// An input is a run of datagrams, each: one byte saying how it came (bit 0: DDP rather than
// E1.31; bits 1-2: which of four senders; bits 3-7: how many tenths of a second after the one
// before), two bytes of length (big-endian), then the datagram. A length beyond what is left
// takes the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ddp_packet.h"
#include "e131_packet.h"
#include "light_receiver.h"

// Whether `text` is UTF-8 without control characters, as every line told must be.
inline bool printableUtf8(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return !text.empty() && printableText(bytes.data(), bytes.size(), text.size()) == text;
}

inline std::string parserViolation(const std::uint8_t* data, std::size_t size) {
    E131Result e131 = parseE131(data, size);
    if (e131.drop == E131Drop::kNone) {
        const E131Packet& packet = e131.packet;
        if (packet.channels < data || packet.channels + packet.channelCount != data + size ||
            packet.channelCount > kE131MaxChannels)
            return "E1.31 channels outside the datagram";
        if (packet.sourceName.size() > 63 * 4 ||
            (!packet.sourceName.empty() && !printableUtf8(packet.sourceName)))
            return "E1.31 source name not safe to print";
        if (packet.priority > 200 || packet.universe < 1 || packet.universe > 63999)
            return "E1.31 field out of range";
    }
    DdpResult ddp = parseDdp(data, size);
    if (ddp.drop == DdpDrop::kNone &&
        (ddp.packet.data < data || ddp.packet.data + ddp.packet.length != data + size))
        return "DDP data outside the datagram";
    return "";
}

// Empty when every guarantee holds, otherwise the first one broken.
inline std::string lightInvariantViolation(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> news;
    LightReceiver receiver([&](const std::string& line) { news.push_back(line); });
    LightReceiver::Clock::time_point at{};
    std::uint64_t dropped = 0;
    std::size_t next = 0;
    while (next + 3 <= size) {
        std::uint8_t how = data[next];
        std::size_t length = (std::size_t)data[next + 1] << 8 | data[next + 2];
        next += 3;
        length = length < size - next ? length : size - next;
        const std::uint8_t* datagram = data + next;
        next += length;
        std::string broken = parserViolation(datagram, length);
        if (!broken.empty())
            return broken;
        at += std::chrono::milliseconds(100 * (how >> 3));
        std::string sender = "10.0.0." + std::to_string(1 + (how >> 1 & 3));
        bool malformed;
        if (how & 1) {
            malformed = parseDdp(datagram, length).drop != DdpDrop::kNone;
            receiver.receiveDdp(datagram, length, sender, at);
        } else {
            malformed = parseE131(datagram, length).drop != E131Drop::kNone;
            receiver.receiveE131(datagram, length, sender, at);
        }
        std::uint64_t now = receiver.droppedCount();
        if (now < dropped || now > dropped + 1 || (malformed && now != dropped + 1))
            return "dropped count went from " + std::to_string(dropped) + " to " +
                   std::to_string(now);
        dropped = now;
        std::optional<CubePlanes> planes = receiver.newestFor(at);
        for (int plane = 0; planes && plane < kCubePlanes; ++plane)
            if (planes->plane[plane] >> 25)
                return "an LED beyond the cube lit";
    }
    static const std::string kMusic = "The cube shows the music again";
    for (std::size_t i = 0; i < news.size(); ++i)
        if (!printableUtf8(news[i]) || (i > 0 && news[i] == kMusic && news[i - 1] == kMusic))
            return "news told wrongly: " + news[i];
    return "";
}
