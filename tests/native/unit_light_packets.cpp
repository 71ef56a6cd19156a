// The E1.31 and DDP parsers and the pixels' way onto the LEDs: a field read wrongly lights the
// cube from garbage, or leaves it dark for a sender that did nothing wrong.
#include <gtest/gtest.h>

#include <functional>

#include "ddp_packet.h"
#include "e131_packet.h"
#include "light_packets.h"
#include "pixel_planes.h"

namespace {

using namespace lightpackets;

TEST(E131Packet, ReadsThePacketsOfCommonSenders) {
    E131Fields xlights; // a whole universe, the default priority
    E131Fields vixen;   // just the channels patched, another universe and priority
    vixen.sourceName = "Vixen 3";
    vixen.universe = 63999;
    vixen.priority = 200;
    vixen.sequence = 255;
    vixen.channels = pixels({0, 124});
    E131Fields jinx; // a name of 63 characters, no terminating zero to spare
    jinx.sourceName = std::string(63, 'J');
    jinx.channels.assign(3, 200);
    for (const E131Fields& sent : {xlights, vixen, jinx}) {
        Bytes bytes = e131(sent);
        E131Result result = parseE131(bytes.data(), bytes.size());
        ASSERT_EQ(E131Drop::kNone, result.drop) << sent.sourceName << " dropped";
        EXPECT_EQ(sent.sourceName, result.packet.sourceName);
        EXPECT_EQ(sent.universe, result.packet.universe) << sent.sourceName;
        EXPECT_EQ(sent.priority, result.packet.priority) << sent.sourceName;
        EXPECT_EQ(sent.sequence, result.packet.sequence) << sent.sourceName;
        EXPECT_EQ(sent.cid, result.packet.cid) << sent.sourceName;
        EXPECT_EQ(sent.channels, Bytes(result.packet.channels,
                                       result.packet.channels + result.packet.channelCount))
            << sent.sourceName;
    }
}

struct Malformed {
    const char* what;
    std::function<void(Bytes&)> change;
    int drop; // E131Drop or DdpDrop
};

TEST(E131Packet, DropsEachMalformedFieldWithItsReason) {
    const Malformed cases[] = {
        {"cut to 125 bytes", [](Bytes& b) { b.resize(125); }, (int)E131Drop::kTooShort},
        {"513 channels", [](Bytes& b) { b.resize(639); }, (int)E131Drop::kTooLong},
        {"preamble 0x11", [](Bytes& b) { b[1] = 0x11; }, (int)E131Drop::kPreamble},
        {"postamble 1", [](Bytes& b) { b[3] = 1; }, (int)E131Drop::kPreamble},
        {"identifier ASC-E1.18", [](Bytes& b) { b[12] = '8'; }, (int)E131Drop::kIdentifier},
        {"root flags 0x6", [](Bytes& b) { b[16] = 0x60 | (b[16] & 0x0F); },
         (int)E131Drop::kRootLength},
        {"root length one short", [](Bytes& b) { b[17] -= 1; }, (int)E131Drop::kRootLength},
        {"a padding byte", [](Bytes& b) { b.push_back(0); }, (int)E131Drop::kRootLength},
        {"root vector 8 (sync)", [](Bytes& b) { b[21] = 8; }, (int)E131Drop::kRootVector},
        {"framing length", [](Bytes& b) { b[39] += 1; }, (int)E131Drop::kFramingLength},
        {"framing vector 1", [](Bytes& b) { b[43] = 1; }, (int)E131Drop::kFramingVector},
        {"priority 201", [](Bytes& b) { b[108] = 201; }, (int)E131Drop::kPriority},
        {"universe 0", [](Bytes& b) { b[113] = b[114] = 0; }, (int)E131Drop::kUniverse},
        {"universe 64000", [](Bytes& b) { put16(b, 113, 64000); }, (int)E131Drop::kUniverse},
        {"DMP length", [](Bytes& b) { b[116] -= 1; }, (int)E131Drop::kDmpLength},
        {"DMP vector 1", [](Bytes& b) { b[117] = 1; }, (int)E131Drop::kDmpVector},
        {"address type 0xA2", [](Bytes& b) { b[118] = 0xA2; }, (int)E131Drop::kAddressType},
        {"first address 1", [](Bytes& b) { b[120] = 1; }, (int)E131Drop::kAddressType},
        {"increment 2", [](Bytes& b) { b[122] = 2; }, (int)E131Drop::kAddressType},
        {"value count 510", [](Bytes& b) { b[124] -= 1; }, (int)E131Drop::kValueCount},
        {"start code 0xDD (per-address priority)", [](Bytes& b) { b[125] = 0xDD; },
         (int)E131Drop::kStartCode},
    };
    E131Fields fields;
    fields.channels.resize(510); // 170 pixels, as xLights fills a universe
    for (const Malformed& test : cases) {
        Bytes bytes = e131(fields);
        test.change(bytes);
        EXPECT_EQ(test.drop, (int)parseE131(bytes.data(), bytes.size()).drop) << test.what;
    }
    Bytes whole = e131(fields);
    for (std::size_t size = 0; size < whole.size(); ++size)
        EXPECT_NE(E131Drop::kNone, parseE131(whole.data(), size).drop) << "cut to " << size;
}

TEST(E131Packet, SourceNamesAreMadeSafeToPrint) {
    const std::pair<std::string, std::string> cases[] = {
        {"Christmas\tShow\r\n", "Christmas Show"},
        {"  Jinx!  ", "Jinx!"},
        {"Weihnachtsb\xC3\xA4ume \xE2\x9C\xA8", "Weihnachtsb\xC3\xA4ume \xE2\x9C\xA8"},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"C1 \xC2\x85 next line", "C1   next line"},
        {"cut \xE2\x9C", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string(64, 'x'), std::string(63, 'x')},
    };
    for (const auto& test : cases) {
        E131Fields fields;
        fields.sourceName = test.first;
        Bytes bytes = e131(fields);
        EXPECT_EQ(test.second, parseE131(bytes.data(), bytes.size()).packet.sourceName)
            << test.first;
    }
}

TEST(DdpPacket, ReadsThePacketsOfCommonSenders) {
    DdpFields wledFirst; // a frame in two packets, push on the last
    wledFirst.flags = 0x40;
    wledFirst.data.assign(180, 7);
    DdpFields wledLast;
    wledLast.offset = 180;
    wledLast.sequence = 2;
    wledLast.data.assign(195, 9);
    DdpFields timecode; // four bytes of time after the header
    timecode.flags = 0x51;
    timecode.data.assign(375, 1);
    DdpFields typeOne; // RGB written as 1, to every device
    typeOne.dataType = 0x01;
    typeOne.destination = 255;
    typeOne.data.assign(6, 2);
    DdpFields syncPush; // a push alone, no data
    syncPush.dataType = 0x00;
    syncPush.destination = 255;
    for (const DdpFields& sent : {wledFirst, wledLast, timecode, typeOne, syncPush}) {
        Bytes bytes = ddp(sent);
        DdpResult result = parseDdp(bytes.data(), bytes.size());
        ASSERT_EQ(DdpDrop::kNone, result.drop) << "flags " << (int)sent.flags;
        EXPECT_EQ((sent.flags & 1) != 0, result.packet.push);
        EXPECT_EQ(sent.offset, result.packet.offset);
        EXPECT_EQ(sent.data, Bytes(result.packet.data, result.packet.data + result.packet.length));
    }
}

TEST(DdpPacket, DropsEachMalformedFieldWithItsReason) {
    const Malformed cases[] = {
        {"cut to 9 bytes", [](Bytes& b) { b.resize(9); }, (int)DdpDrop::kTooShort},
        {"timecode flag, 12 bytes",
         [](Bytes& b) {
             b[0] |= 0x10;
             b.resize(12);
         },
         (int)DdpDrop::kTooShort},
        {"version 0", [](Bytes& b) { b[0] = 0x01; }, (int)DdpDrop::kVersion},
        {"version 2", [](Bytes& b) { b[0] = 0x81; }, (int)DdpDrop::kVersion},
        {"query", [](Bytes& b) { b[0] |= 0x02; }, (int)DdpDrop::kNotPixels},
        {"reply", [](Bytes& b) { b[0] |= 0x04; }, (int)DdpDrop::kNotPixels},
        {"storage", [](Bytes& b) { b[0] |= 0x08; }, (int)DdpDrop::kNotPixels},
        {"RGBW 8-bit", [](Bytes& b) { b[2] = 0x1B; }, (int)DdpDrop::kDataType},
        {"RGB 16-bit", [](Bytes& b) { b[2] = 0x0C; }, (int)DdpDrop::kDataType},
        {"destination 0", [](Bytes& b) { b[3] = 0; }, (int)DdpDrop::kDestination},
        {"destination 2", [](Bytes& b) { b[3] = 2; }, (int)DdpDrop::kDestination},
        {"JSON control", [](Bytes& b) { b[3] = 246; }, (int)DdpDrop::kDestination},
        {"JSON config", [](Bytes& b) { b[3] = 250; }, (int)DdpDrop::kDestination},
        {"JSON status", [](Bytes& b) { b[3] = 251; }, (int)DdpDrop::kDestination},
        {"length one more", [](Bytes& b) { b[9] += 1; }, (int)DdpDrop::kLength},
        {"length one less", [](Bytes& b) { b[9] -= 1; }, (int)DdpDrop::kLength},
        {"length 65535", [](Bytes& b) { put16(b, 8, 65535); }, (int)DdpDrop::kLength},
    };
    for (const Malformed& test : cases) {
        DdpFields fields;
        fields.data = pixels({1});
        Bytes bytes = ddp(fields);
        test.change(bytes);
        EXPECT_EQ(test.drop, (int)parseDdp(bytes.data(), bytes.size()).drop) << test.what;
    }
}

TEST(PixelPlanes, EachPixelLightsItsOwnLed) {
    for (int pixel = 0; pixel < kCubePixels; ++pixel) {
        Bytes channels = pixels({pixel}, 255, pixel % 3);
        CubePlanes planes = planesFromChannels(channels.data(), channels.size());
        for (int plane = 0; plane < kCubePlanes; ++plane)
            EXPECT_EQ(plane == pixel / 25 ? planeBit(pixel % 25 / 5 + 1, pixel % 5) : 0,
                      planes.plane[plane])
                << "pixel " << pixel << ", plane " << plane + 1;
    }
}

TEST(PixelPlanes, AnLedLightsFromHalfOnAndMissingChannelsAreDark) {
    Bytes extra = pixels({});
    extra.resize(512, 255); // beyond the cube's 375 channels
    const std::pair<Bytes, int> cases[] = {
        {{127, 127, 127}, 0},
        {{128, 0, 0}, 1},
        {{0, 128, 0}, 1},
        {{0, 0, 255}, 1},
        {{0, 200}, 1}, // a pixel cut after its green
        {{}, 0},
        {extra, 0},
    };
    for (const auto& test : cases) {
        CubePlanes planes = planesFromChannels(test.first.data(), test.first.size());
        int lit = 0;
        for (int plane : planes.plane)
            lit += __builtin_popcount((unsigned)plane);
        EXPECT_EQ(test.second, lit) << test.first.size() << " channels, the first "
                                    << (int)(test.first.empty() ? 0 : test.first[0]);
    }
}

} // namespace
