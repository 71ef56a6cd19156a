// DDP (Distributed Display Protocol) packets as lighting programs send them to UDP port 4048.
// Platform-free and pure: a datagram in, the packet or the reason it was dropped out.
#pragma once

#include <cstddef>
#include <cstdint>

enum { kDdpPort = 4048 };

// The flags byte's bits; the version (1) is in bits 7-6.
enum : std::uint8_t {
    kDdpVersionMask = 0xC0,
    kDdpVersion1 = 0x40,
    kDdpTimecode = 0x10, // four more header bytes
    kDdpStorage = 0x08,
    kDdpReply = 0x04,
    kDdpQuery = 0x02,
    kDdpPush = 0x01, // show what has arrived
};

struct DdpPacket {
    bool push = false;
    int sequence = 0;                   // 1 to 15, or 0 from senders that do not count
    std::uint32_t offset = 0;           // in bytes (channels) from the first pixel's red
    const std::uint8_t* data = nullptr; // into the datagram: valid while it is
    std::size_t length = 0;             // 0 to 65535
};

enum class DdpDrop {
    kNone, // pixel data (possibly none, with push)
    kTooShort,
    kVersion,
    kNotPixels,   // a query, reply or storage request
    kDataType,    // not 8-bit RGB
    kDestination, // not the display: configuration, status, JSON, another output
    kLength,      // the data length is not what the datagram holds
};

struct DdpResult {
    DdpDrop drop = DdpDrop::kNone;
    DdpPacket packet; // filled when drop is kNone
};

DdpResult parseDdp(const std::uint8_t* datagram, std::size_t size);
