#include "ddp_packet.h"

enum {
    kFlagsAt = 0,
    kSequenceAt = 1,
    kDataTypeAt = 2,
    kDestinationAt = 3,
    kOffsetAt = 4,
    kLengthAt = 8,
    kHeaderSize = 10,
    kTimecodeHeaderSize = 14,
};

// The data types taken as 8-bit RGB.
static const std::uint8_t kRgbDataTypes[] = {
    0x0B, // RGB, 8 bits an element, as the protocol's own table has it
    0x01, // the RGB type number alone, as several senders write it
    0x00, // undefined: senders that know one type only leave it so, sync pushes too
};

// The destinations that are the display.
static const std::uint8_t kDisplayDestinations[] = {
    1,   // the default output device
    255, // every device
};

template <std::size_t count> static bool listed(const std::uint8_t (&table)[count], unsigned v) {
    for (std::uint8_t entry : table)
        if (entry == v)
            return true;
    return false;
}

DdpResult parseDdp(const std::uint8_t* datagram, std::size_t size) {
    DdpResult result;
    if (size < kHeaderSize) {
        result.drop = DdpDrop::kTooShort;
        return result;
    }
    std::uint8_t flags = datagram[kFlagsAt];
    std::size_t header = (flags & kDdpTimecode) ? kTimecodeHeaderSize : kHeaderSize;
    std::size_t length = (std::size_t)datagram[kLengthAt] << 8 | datagram[kLengthAt + 1];
    DdpDrop drop = DdpDrop::kNone;
    if (size < header)
        drop = DdpDrop::kTooShort;
    else if ((flags & kDdpVersionMask) != kDdpVersion1)
        drop = DdpDrop::kVersion;
    else if (flags & (kDdpQuery | kDdpReply | kDdpStorage))
        drop = DdpDrop::kNotPixels;
    else if (!listed(kRgbDataTypes, datagram[kDataTypeAt]))
        drop = DdpDrop::kDataType;
    else if (!listed(kDisplayDestinations, datagram[kDestinationAt]))
        drop = DdpDrop::kDestination;
    else if (length != size - header)
        drop = DdpDrop::kLength;
    result.drop = drop;
    if (drop != DdpDrop::kNone)
        return result;

    DdpPacket& packet = result.packet;
    packet.push = (flags & kDdpPush) != 0;
    packet.sequence = datagram[kSequenceAt] & 0x0F;
    packet.offset = (std::uint32_t)datagram[kOffsetAt] << 24 |
                    (std::uint32_t)datagram[kOffsetAt + 1] << 16 |
                    (std::uint32_t)datagram[kOffsetAt + 2] << 8 | datagram[kOffsetAt + 3];
    packet.data = datagram + header;
    packet.length = length;
    return result;
}
