// E1.31 and DDP datagrams as the tests build them: laid out as lighting programs send them (the
// sACN senders xLights, Vixen and Jinx: one universe per datagram, a source name, priority 100;
// WLED and LedFx DDP: version 1, 8-bit RGB, destination 1, push on a frame's last packet).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lightpackets {

using Bytes = std::vector<std::uint8_t>;

struct E131Fields {
    std::string sourceName = "xLights";
    std::array<std::uint8_t, 16> cid = {0x5A, 0x1E, 0xC7, 0x01, 0x33, 0x8B, 0x4E, 0x2D,
                                        0x9F, 0x10, 0x62, 0xAB, 0xD4, 0x07, 0x71, 0xE5};
    int priority = 100;
    int sequence = 1;
    int options = 0;
    int universe = 1;
    int startCode = 0;
    Bytes channels = Bytes(512, 0);
};

inline void put16(Bytes& bytes, std::size_t at, unsigned value) {
    bytes[at] = (std::uint8_t)(value >> 8);
    bytes[at + 1] = (std::uint8_t)value;
}

inline Bytes e131(const E131Fields& fields) {
    Bytes bytes(126 + fields.channels.size(), 0);
    static const char kIdentifier[] = "ASC-E1.17";
    put16(bytes, 0, 0x0010);
    std::copy(kIdentifier, kIdentifier + 9, bytes.begin() + 4);
    put16(bytes, 16, 0x7000 | (unsigned)(bytes.size() - 16)); // root layer
    bytes[21] = 0x04;
    std::copy(fields.cid.begin(), fields.cid.end(), bytes.begin() + 22);
    put16(bytes, 38, 0x7000 | (unsigned)(bytes.size() - 38)); // framing layer
    bytes[43] = 0x02;
    std::copy(fields.sourceName.begin(), fields.sourceName.end(), bytes.begin() + 44);
    bytes[108] = (std::uint8_t)fields.priority;
    bytes[111] = (std::uint8_t)fields.sequence;
    bytes[112] = (std::uint8_t)fields.options;
    put16(bytes, 113, (unsigned)fields.universe);
    put16(bytes, 115, 0x7000 | (unsigned)(bytes.size() - 115)); // DMP layer
    bytes[117] = 0x02;
    bytes[118] = 0xA1;
    put16(bytes, 121, 1);
    put16(bytes, 123, (unsigned)(1 + fields.channels.size()));
    bytes[125] = (std::uint8_t)fields.startCode;
    std::copy(fields.channels.begin(), fields.channels.end(), bytes.begin() + 126);
    return bytes;
}

struct DdpFields {
    std::uint8_t flags = 0x41; // version 1, push
    int sequence = 1;
    std::uint8_t dataType = 0x0B;
    std::uint8_t destination = 1;
    std::uint32_t offset = 0;
    Bytes data;
};

inline Bytes ddp(const DdpFields& fields) {
    std::size_t header = (fields.flags & 0x10) ? 14 : 10;
    Bytes bytes(header + fields.data.size(), 0);
    bytes[0] = fields.flags;
    bytes[1] = (std::uint8_t)fields.sequence;
    bytes[2] = fields.dataType;
    bytes[3] = fields.destination;
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = (std::uint8_t)(fields.offset >> (24 - 8 * i));
    put16(bytes, 8, (unsigned)fields.data.size());
    std::copy(fields.data.begin(), fields.data.end(), bytes.begin() + (long)header);
    return bytes;
}

// The cube's 375 channels with the listed pixels at `level` on one colour (0 red, 1 green,
// 2 blue) and the rest dark.
inline Bytes pixels(std::initializer_list<int> lit, std::uint8_t level = 255, int colour = 0) {
    Bytes channels(375, 0);
    for (int pixel : lit)
        channels[3 * pixel + colour] = level;
    return channels;
}

} // namespace lightpackets
