// The cube stream parser and frame naming behind cubeview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <string>
#include <vector>

#include "cube_bytes.h"
#include "cube_stream.h"
#include "frame_names.h"

namespace {

using cubebytes::Bytes;
using cubebytes::join;

Bytes frame(CubePattern pattern, int index) {
    return cubebytes::frameBytes(pattern, index);
}

Bytes withByte(Bytes bytes, size_t offset, unsigned char value) {
    bytes[offset] = value;
    return bytes;
}

Bytes first(const Bytes& bytes, size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + count);
}

const Bytes kStart = {kCubeStartByte};
const Bytes kStop = {kCubeStopByte};

// "start frame skip3 rejected stop", the events in order, skipped runs with their length.
std::string eventList(const std::vector<StreamEvent>& events) {
    static const char* const kNames[] = {"frame", "rejected", "start", "stop", "skip"};
    std::string text;
    for (const StreamEvent& event : events) {
        text += text.empty() ? "" : " ";
        text += kNames[static_cast<int>(event.kind)];
        if (event.kind == StreamEventKind::Skipped)
            text += std::to_string(event.length);
    }
    return text;
}

struct ParseCase {
    const char* name;
    Bytes input;
    bool flush;
    const char* events;
    size_t pending; // bytes still waiting in an incomplete frame
};

const ParseCase kParseCases[] = {
    {"clean run", join({kStart, frame(kPatternStar, 0), frame(kPatternStar, 3), kStop}), false,
     "start frame frame stop", 0},
    {"garbage before the first frame", join({{'h', 'e', 'l', 'l', 'o'}, frame(kPatternLevels, 5)}),
     false, "skip5 frame", 0},
    {"garbage between frames",
     join({frame(kPatternStar, 1), {0x00, 0xFF, kFrameEndByte}, frame(kPatternStar, 2)}), false,
     "frame skip3 frame", 0},
    {"payload byte 32 rejected", join({withByte(frame(kPatternStar, 2), 13, 32), kStop}), false,
     "rejected stop", 0},
    {"payload byte 0xFF rejected, next frame kept",
     join({withByte(frame(kPatternNewStar, 15), 1, 0xFF), frame(kPatternNewStar, 15)}), false,
     "rejected frame", 0},
    {"corrupted payload that looks like a stop byte", withByte(frame(kPatternLevels, 3), 7, 0x4E),
     false, "rejected", 0},
    {"truncated frame then a good one",
     join({first(frame(kPatternStar, 3), 10), frame(kPatternStar, 3)}), false, "skip10 frame", 0},
    {"end byte lost, next frame right behind",
     join({first(frame(kPatternStar, 3), 26), frame(kPatternStar, 1)}), false, "skip26 frame", 0},
    {"end byte corrupted",
     join({withByte(frame(kPatternStar, 3), 26, 0x7F), frame(kPatternStar, 0)}), false,
     "skip27 frame", 0},
    {"runs of start delimiters", join({{0x2A, 0x2A, 0x2A}, frame(kPatternLevels, 1)}), false,
     "skip3 frame", 0},
    {"incomplete frame waits for more bytes", first(frame(kPatternStar, 2), 20), false, "", 20},
    {"truncated frame before the stop byte, line then quiet",
     join({first(frame(kPatternStar, 2), 6), kStop}), true, "skip6 stop", 0},
    {"start and stop around a cut frame on flush",
     join({kStart, first(frame(kPatternStar, 2), 3), kStart, kStop}), true,
     "start skip3 start stop", 0},
    {"lone end bytes and letters", {kFrameEndByte, 'L' + 1, kFrameEndByte}, false, "skip3", 0},
};

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, EventsAndCountsMatchTheLine) {
    const ParseCase& c = GetParam();
    CubeStreamParser parser;
    std::vector<StreamEvent> events;
    parser.feed(c.input.data(), c.input.size(), events);
    if (c.flush)
        parser.flush(events);
    EXPECT_EQ(c.events, eventList(events));
    EXPECT_EQ(c.pending, parser.pending());
    const StreamCounts& n = parser.counts();
    EXPECT_EQ(c.input.size(), n.bytes);
    EXPECT_EQ(n.bytes,
              27 * (n.frames + n.rejected) + n.starts + n.stops + n.skipped + parser.pending());
}

INSTANTIATE_TEST_SUITE_P(Streams, ParseTest, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST(CubeStreamParser, FramesSplitAtEveryOffsetGiveTheSameEvents) {
    Bytes line = join({kStart,
                       {0x01, 0x7E},
                       frame(kPatternNewStar, 9),
                       withByte(frame(kPatternStar, 3), 5, 0x40),
                       first(frame(kPatternStar, 1), 12),
                       frame(kPatternLevels, 2),
                       kStop});
    CubeStreamParser whole;
    std::vector<StreamEvent> expected;
    whole.feed(line.data(), line.size(), expected);
    ASSERT_EQ("start skip2 frame rejected skip12 frame stop", eventList(expected));
    for (size_t split = 0; split <= line.size(); ++split) {
        for (size_t second = split; second <= line.size(); second += 5) {
            CubeStreamParser parser;
            std::vector<StreamEvent> events;
            parser.feed(line.data(), split, events);
            parser.feed(line.data() + split, second - split, events);
            parser.feed(line.data() + second, line.size() - second, events);
            ASSERT_EQ(eventList(expected), eventList(events))
                << "split at " << split << ", " << second;
            for (size_t i = 0; i < events.size(); ++i)
                ASSERT_EQ(expected[i].offset, events[i].offset) << "event " << i;
        }
    }
}

TEST(CubeStreamParser, FramePayloadAndOffsetsAreReported) {
    Bytes line = join({{0x00}, frame(kPatternNewStar, 11)});
    CubeStreamParser parser;
    std::vector<StreamEvent> events;
    parser.feed(line.data(), line.size(), events);
    ASSERT_EQ("skip1 frame", eventList(events));
    EXPECT_EQ(1u, events[1].offset);
    EXPECT_EQ(Bytes(line.begin() + 2, line.end() - 1),
              Bytes(events[1].payload, events[1].payload + kCubePayloadSize));
}

using Payload = std::vector<unsigned char>;

Payload table(CubePattern pattern, int index) {
    const unsigned char* payload = patternPayload(pattern, index);
    return Payload(payload, payload + kCubePayloadSize);
}

// Columns standing on plane 5, `heights[5 * (row - 1) + bit]` planes tall, as Spectrum draws them.
Payload columns(const std::vector<int>& heights) {
    Payload payload(kCubePayloadSize, 0);
    for (size_t column = 0; column < heights.size(); ++column)
        for (int plane = kCubePlanes; plane > kCubePlanes - heights[column]; --plane)
            payload[frameOffset(plane, (int)column / 5 + 1) - 1] |=
                (unsigned char)(1 << column % 5);
    return payload;
}

// The LEDs at one Chebyshev distance from the centre, as Pulse draws them.
Payload shell(int distance) {
    Payload payload(kCubePayloadSize, 0);
    for (int plane = 1; plane <= 5; ++plane)
        for (int row = 1; row <= 5; ++row)
            for (int bit = 0; bit < 5; ++bit)
                if (std::max({std::abs(plane - 3), std::abs(row - 3), std::abs(bit - 2)}) ==
                    distance)
                    payload[frameOffset(plane, row) - 1] |= (unsigned char)(1 << bit);
    return payload;
}

const Payload kRising = columns({1, 2, 3, 4, 5, 4, 3, 2, 1}); // no table has it
const Payload kOdd = Payload{31, 0, 31};                      // no mode draws it

struct NamingCase {
    std::vector<Payload> shown; // the last one is named
    const char* name;
};

const NamingCase kNamingCases[] = {
    {{table(kPatternStar, 2)}, "Star 2/3"},
    {{table(kPatternLevels, 5)}, "Levels 5/5"},
    {{table(kPatternNewStar, 11)}, "NewStar 11/15"},
    {{table(kPatternStar, 0)}, "Star 0/3 | Levels 0/5 | NewStar 0/15 | Spectrum | Pulse 0/3"},
    {{table(kPatternNewStar, 1)}, "Star 1/3 | NewStar 1/15 | Pulse 1/3"},
    {{table(kPatternNewStar, 4), table(kPatternStar, 1)}, "NewStar 1/15"},
    {{table(kPatternStar, 3), table(kPatternNewStar, 0)}, "Star 0/3"},
    {{table(kPatternLevels, 4), table(kPatternLevels, 0)}, "Levels 0/5"},
    {{table(kPatternLevels, 2), table(kPatternStar, 1)}, "Star 1/3 | NewStar 1/15 | Pulse 1/3"},
    {{table(kPatternStar, 2), table(kPatternLevels, 1), table(kPatternStar, 0)}, "Levels 0/5"},
    // The music modes by their shapes: a Levels frame in a run of Spectrum is Spectrum's.
    {{kRising}, "Spectrum"},
    {{kRising, table(kPatternLevels, 3)}, "Spectrum"},
    {{kRising, table(kPatternLevels, 0)}, "Spectrum"},
    {{shell(1)}, "Pulse 2/3"},
    {{shell(2)}, "Pulse 3/3"},
    {{shell(2), shell(0)}, "Pulse 1/3"},
    {{shell(1), table(kPatternStar, 0)}, "Pulse 0/3"},
    {{kOdd}, "frame"},
};

TEST(FrameNamer, NamesFramesFromTheTablesAndTheMusicModesPreferringTheRecentSource) {
    for (const NamingCase& c : kNamingCases) {
        FrameNamer namer;
        std::string name;
        for (const Payload& shown : c.shown)
            name = namer.name(shown.data()).text;
        EXPECT_EQ(c.name, name) << "after " << c.shown.size() << " frames";
    }
}

struct TallyCase {
    std::vector<Payload> shown;
    const char* summary;
};

const TallyCase kTallyCases[] = {
    {{table(kPatternStar, 0), table(kPatternStar, 1), table(kPatternStar, 2),
      table(kPatternStar, 3), table(kPatternStar, 0)},
     "other=0 undecided=0 distinct_Star=4 distinct_Levels=0 distinct_NewStar=0 "
     "distinct_Spectrum=0 distinct_Pulse=0 patterns=Star"},
    {{table(kPatternNewStar, 0), table(kPatternNewStar, 1), table(kPatternNewStar, 15)},
     "other=0 undecided=0 distinct_Star=0 distinct_Levels=0 distinct_NewStar=3 "
     "distinct_Spectrum=0 distinct_Pulse=0 patterns=NewStar"},
    {{table(kPatternLevels, 0), table(kPatternLevels, 0)},
     "other=0 undecided=2 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 "
     "distinct_Spectrum=0 distinct_Pulse=0 patterns=none"},
    {{table(kPatternLevels, 5), table(kPatternStar, 1), table(kPatternStar, 0)},
     "other=0 undecided=1 distinct_Star=0 distinct_Levels=2 distinct_NewStar=0 "
     "distinct_Spectrum=0 distinct_Pulse=0 patterns=Levels"},
    // A pulse: the centre (also Star's and NewStar's) and the dark frame go to Pulse.
    {{table(kPatternStar, 0), shell(0), shell(0), shell(1), shell(1), shell(2), shell(2)},
     "other=0 undecided=0 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 "
     "distinct_Spectrum=0 distinct_Pulse=4 patterns=Pulse"},
    {{kRising, columns({5}), kOdd},
     "other=1 undecided=0 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 "
     "distinct_Spectrum=2 distinct_Pulse=0 patterns=Spectrum"},
};

TEST(PatternTally, SettlesSharedFramesByTheSourcesSeen) {
    for (const TallyCase& c : kTallyCases) {
        FrameNamer namer;
        PatternTally tally;
        for (const Payload& shown : c.shown)
            tally.add(namer.name(shown.data()), shown.data());
        EXPECT_EQ(c.summary, tally.summary());
    }
}

} // namespace
