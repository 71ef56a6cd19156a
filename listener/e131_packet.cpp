#include "e131_packet.h"

#include <cstring>

// Where each field lies: three layers (root, framing, DMP), each starting with 16 bits of flags
// (0x7) and length (of the rest of the datagram from that layer on).
enum {
    kPreambleAt = 0,
    kPostambleAt = 2,
    kIdentifierAt = 4,
    kRootLayerAt = 16,
    kRootVectorAt = 18,
    kCidAt = 22,
    kFramingLayerAt = 38,
    kFramingVectorAt = 40,
    kSourceNameAt = 44,
    kSourceNameSize = 64,
    kPriorityAt = 108,
    kSequenceAt = 111,
    kOptionsAt = 112,
    kUniverseAt = 113,
    kDmpLayerAt = 115,
    kDmpVectorAt = 117,
    kAddressTypeAt = 118,
    kFirstAddressAt = 119,
    kIncrementAt = 121,
    kValueCountAt = 123,
    kStartCodeAt = 125,
    kChannelsAt = 126,
};

static const std::uint8_t kIdentifier[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
static const std::uint32_t kRootVectorData = 0x00000004;
static const std::uint32_t kFramingVectorData = 0x00000002;
static const std::uint8_t kDmpVectorSetProperty = 0x02;
static const std::uint8_t kAddressTypeRelative = 0xA1; // one-byte values, address and increment
static const int kMaxPriority = 200;
static const std::uint8_t kStartCodeDimmer = 0x00; // plain levels: the pixels

static unsigned bigEndian16(const std::uint8_t* at) {
    return (unsigned)at[0] << 8 | at[1];
}

static std::uint32_t bigEndian32(const std::uint8_t* at) {
    return (std::uint32_t)at[0] << 24 | (std::uint32_t)at[1] << 16 | (std::uint32_t)at[2] << 8 |
           at[3];
}

// A layer's flags must be 0x7 and its length must reach exactly to the datagram's end: E1.31
// puts one PDU in a datagram, so anything else is a cut or padded packet.
static bool layerFits(const std::uint8_t* datagram, std::size_t size, std::size_t layerAt) {
    unsigned field = bigEndian16(datagram + layerAt);
    return field >> 12 == 0x7 && (field & 0x0FFF) == size - layerAt;
}

E131Result parseE131(const std::uint8_t* datagram, std::size_t size) {
    E131Result result;
    if (size < kChannelsAt) {
        result.drop = E131Drop::kTooShort;
        return result;
    }
    if (size > kChannelsAt + kE131MaxChannels) {
        result.drop = E131Drop::kTooLong;
        return result;
    }
    // Every field read below lies before kChannelsAt, which the size checks above guarantee.
    E131Drop drop = E131Drop::kNone;
    if (bigEndian16(datagram + kPreambleAt) != 0x0010 || bigEndian16(datagram + kPostambleAt) != 0)
        drop = E131Drop::kPreamble;
    else if (std::memcmp(datagram + kIdentifierAt, kIdentifier, sizeof kIdentifier) != 0)
        drop = E131Drop::kIdentifier;
    else if (!layerFits(datagram, size, kRootLayerAt))
        drop = E131Drop::kRootLength;
    else if (bigEndian32(datagram + kRootVectorAt) != kRootVectorData)
        drop = E131Drop::kRootVector;
    else if (!layerFits(datagram, size, kFramingLayerAt))
        drop = E131Drop::kFramingLength;
    else if (bigEndian32(datagram + kFramingVectorAt) != kFramingVectorData)
        drop = E131Drop::kFramingVector;
    else if (datagram[kPriorityAt] > kMaxPriority)
        drop = E131Drop::kPriority;
    else if (bigEndian16(datagram + kUniverseAt) < kE131MinUniverse ||
             bigEndian16(datagram + kUniverseAt) > kE131MaxUniverse)
        drop = E131Drop::kUniverse;
    else if (!layerFits(datagram, size, kDmpLayerAt))
        drop = E131Drop::kDmpLength;
    else if (datagram[kDmpVectorAt] != kDmpVectorSetProperty)
        drop = E131Drop::kDmpVector;
    else if (datagram[kAddressTypeAt] != kAddressTypeRelative ||
             bigEndian16(datagram + kFirstAddressAt) != 0 ||
             bigEndian16(datagram + kIncrementAt) != 1)
        drop = E131Drop::kAddressType;
    else if (bigEndian16(datagram + kValueCountAt) != size - kStartCodeAt)
        drop = E131Drop::kValueCount;
    else if (datagram[kStartCodeAt] != kStartCodeDimmer)
        drop = E131Drop::kStartCode;
    result.drop = drop;
    if (drop != E131Drop::kNone)
        return result;

    E131Packet& packet = result.packet;
    std::memcpy(packet.cid.data(), datagram + kCidAt, packet.cid.size());
    const std::uint8_t* name = datagram + kSourceNameAt;
    const void* end = std::memchr(name, 0, kSourceNameSize);
    std::size_t nameSize =
        end ? (std::size_t)((const std::uint8_t*)end - name) : (std::size_t)kSourceNameSize;
    packet.sourceName = printableText(name, nameSize, kSourceNameSize - 1);
    packet.priority = datagram[kPriorityAt];
    packet.sequence = datagram[kSequenceAt];
    packet.options = datagram[kOptionsAt];
    packet.universe = (int)bigEndian16(datagram + kUniverseAt);
    packet.channels = datagram + kChannelsAt;
    packet.channelCount = size - kChannelsAt;
    return result;
}

// The length of the UTF-8 sequence at `bytes` and its code point, or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF included).
static std::size_t utf8Sequence(const std::uint8_t* bytes, std::size_t size, std::uint32_t* code) {
    std::uint8_t lead = bytes[0];
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || length > size)
        return 0;
    std::uint32_t value = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (bytes[i] & 0x3F);
    }
    static const std::uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000}; // by length
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

std::string printableText(const std::uint8_t* bytes, std::size_t size, std::size_t maxCharacters) {
    std::string text;
    std::size_t characters = 0;
    for (std::size_t at = 0; at < size && characters < maxCharacters; ++characters) {
        std::uint32_t code = 0;
        std::size_t length = utf8Sequence(bytes + at, size - at, &code);
        if (length == 0) {
            text += "\xEF\xBF\xBD"; // U+FFFD, for one byte that is not UTF-8
            at += 1;
        } else if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
            text += ' ';
            at += length;
        } else {
            text.append((const char*)bytes + at, length);
            at += length;
        }
    }
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
