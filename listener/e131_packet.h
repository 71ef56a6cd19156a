// E1.31 (streaming ACN, "sACN") data packets as lighting programs send them to UDP port 5568.
// Platform-free and pure: a datagram in, the packet or the reason it was dropped out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum { kE131Port = 5568, kE131MaxChannels = 512, kE131MinUniverse = 1, kE131MaxUniverse = 63999 };

// The options byte's bits.
enum : std::uint8_t {
    kE131OptionPreview = 0x80,    // for a visualiser's preview, not for the lights
    kE131OptionTerminated = 0x40, // the source stops sending this universe now
};

struct E131Packet {
    std::array<std::uint8_t, 16> cid{}; // the source's component identifier
    std::string sourceName;             // at most 63 characters, safe to print
    int priority = 0;                   // 0 to 200
    int sequence = 0;                   // 0 to 255
    int options = 0;
    int universe = 0;                       // 1 to 63999
    const std::uint8_t* channels = nullptr; // into the datagram: valid while it is
    std::size_t channelCount = 0;           // 0 to 512
};

enum class E131Drop {
    kNone, // a packet of channel data
    kTooShort,
    kTooLong,
    kPreamble,   // preamble or postamble size
    kIdentifier, // not "ASC-E1.17"
    kRootLength, // flags or length of the root layer
    kRootVector, // not data (synchronisation, discovery, ...)
    kFramingLength,
    kFramingVector,
    kPriority, // above 200
    kUniverse, // 0 or 64000 and above
    kDmpLength,
    kDmpVector,
    kAddressType, // address and data type, first address or increment
    kValueCount,  // property value count not what the datagram holds
    kStartCode,   // not pixels: per-address priority (0xDD), text, ...
};

struct E131Result {
    E131Drop drop = E131Drop::kNone;
    E131Packet packet; // filled when drop is kNone
};

E131Result parseE131(const std::uint8_t* datagram, std::size_t size);

// Text from the network made safe to show: invalid UTF-8 becomes U+FFFD, control characters
// become spaces, spaces at either end go, and at most `maxCharacters` characters remain.
std::string printableText(const std::uint8_t* bytes, std::size_t size, std::size_t maxCharacters);
