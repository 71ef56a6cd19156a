// The cube stream parser and frame naming behind cubeview.
#include <gtest/gtest.h>

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

struct Shown {
    CubePattern pattern;
    int index;
};

struct NamingCase {
    std::vector<Shown> shown; // the last one is named
    const char* name;
};

const NamingCase kNamingCases[] = {
    {{{kPatternStar, 2}}, "Star 2/3"},
    {{{kPatternLevels, 5}}, "Levels 5/5"},
    {{{kPatternNewStar, 11}}, "NewStar 11/15"},
    {{{kPatternStar, 0}}, "Star 0/3 | Levels 0/5 | NewStar 0/15"},
    {{{kPatternNewStar, 1}}, "Star 1/3 | NewStar 1/15"},
    {{{kPatternNewStar, 4}, {kPatternStar, 1}}, "NewStar 1/15"},
    {{{kPatternStar, 3}, {kPatternNewStar, 0}}, "Star 0/3"},
    {{{kPatternLevels, 4}, {kPatternLevels, 0}}, "Levels 0/5"},
    {{{kPatternLevels, 2}, {kPatternStar, 1}}, "Star 1/3 | NewStar 1/15"},
    {{{kPatternStar, 2}, {kPatternLevels, 1}, {kPatternStar, 0}}, "Levels 0/5"},
};

TEST(FrameNamer, NamesFramesFromTheTablesPreferringTheRecentPattern) {
    for (const NamingCase& c : kNamingCases) {
        FrameNamer namer;
        std::string name;
        for (const Shown& s : c.shown)
            name = namer.name(patternPayload(s.pattern, s.index)).text;
        EXPECT_EQ(c.name, name) << "after " << c.shown.size() << " frames";
    }
    unsigned char odd[kCubePayloadSize] = {31};
    EXPECT_EQ("unknown", FrameNamer().name(odd).text);
}

struct TallyCase {
    std::vector<Shown> shown;
    const char* summary;
};

const TallyCase kTallyCases[] = {
    {{{kPatternStar, 0},
      {kPatternStar, 1},
      {kPatternStar, 2},
      {kPatternStar, 3},
      {kPatternStar, 0}},
     "unknown=0 undecided=0 distinct_Star=4 distinct_Levels=0 distinct_NewStar=0 patterns=Star"},
    {{{kPatternNewStar, 0}, {kPatternNewStar, 1}, {kPatternNewStar, 15}},
     "unknown=0 undecided=0 distinct_Star=0 distinct_Levels=0 distinct_NewStar=3 patterns=NewStar"},
    {{{kPatternLevels, 0}, {kPatternLevels, 0}},
     "unknown=0 undecided=2 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 patterns=none"},
    {{{kPatternLevels, 5}, {kPatternStar, 1}, {kPatternStar, 0}},
     "unknown=0 undecided=1 distinct_Star=0 distinct_Levels=2 distinct_NewStar=0 patterns=Levels"},
};

TEST(PatternTally, SettlesSharedFramesByThePatternsSeen) {
    for (const TallyCase& c : kTallyCases) {
        FrameNamer namer;
        PatternTally tally;
        for (const Shown& s : c.shown)
            tally.add(namer.name(patternPayload(s.pattern, s.index)));
        EXPECT_EQ(c.summary, tally.summary());
    }
    unsigned char odd[kCubePayloadSize] = {0, 31};
    PatternTally tally;
    tally.add(FrameNamer().name(odd));
    EXPECT_EQ(0u, tally.summary().find("unknown=1 "));
}

} // namespace
