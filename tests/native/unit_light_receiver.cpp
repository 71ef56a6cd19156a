// Who holds the cube when other lighting programs send: a rule broken here shows a stale or
// foreign frame, keeps the music away, or tells the user something twice or never.
#include <gtest/gtest.h>

#include <thread>

#include "e131_packet.h"
#include "light_packets.h"
#include "light_receiver.h"

namespace {

using namespace lightpackets;
using namespace std::chrono_literals;
using Clock = LightReceiver::Clock;

struct Receiving : ::testing::Test {
    std::vector<std::string> news;
    LightReceiver receiver{[this](const std::string& line) { news.push_back(line); }};
    Clock::time_point start = Clock::now();

    // E1.31 from source `cid` lighting `pixel`, `ms` after the start.
    void sendE131(int ms, int pixel, int sequence, int priority = 100, std::uint8_t cid = 1,
                  int options = 0, int universe = 1) {
        E131Fields fields;
        fields.cid[0] = cid;
        fields.channels = pixels({pixel});
        fields.sequence = sequence;
        fields.priority = priority;
        fields.options = options;
        fields.universe = universe;
        fields.sourceName = "Show " + std::to_string(cid);
        Bytes bytes = e131(fields);
        receiver.receiveE131(bytes.data(), bytes.size(), "192.168.1." + std::to_string(cid),
                             start + std::chrono::milliseconds(ms));
    }
    void sendDdp(int ms, const DdpFields& fields, const std::string& sender = "192.168.1.50") {
        Bytes bytes = ddp(fields);
        receiver.receiveDdp(bytes.data(), bytes.size(), sender,
                            start + std::chrono::milliseconds(ms));
    }
    // What the cube shows: the pixels lit ("3 70"), "dark", or "music".
    std::string shownAt(int ms) {
        std::optional<CubePlanes> planes =
            receiver.newestFor(start + std::chrono::milliseconds(ms));
        if (!planes)
            return "music";
        std::string lit;
        for (int pixel = 0; pixel < kCubePixels; ++pixel)
            if (planes->plane[pixel / 25] & (1 << pixel % 25))
                lit += (lit.empty() ? "" : " ") + std::to_string(pixel);
        return lit.empty() ? "dark" : lit;
    }
};

TEST_F(Receiving, ShowsTheNewestFrameAndWaitsForTheNextOnceWritten) {
    EXPECT_EQ("music", shownAt(0));
    for (int i = 0; i < 3; ++i)
        sendE131(1 + i, 10 + i, 1 + i);
    EXPECT_TRUE(receiver.waitForChange(0ms));
    EXPECT_EQ("12", shownAt(5));
    receiver.frameWritten();
    EXPECT_FALSE(receiver.waitForChange(0ms)) << "nothing new since the frame written";
    std::thread later([this] { sendE131(6, 20, 4); });
    EXPECT_TRUE(receiver.waitForChange(10s)) << "a frame from another thread was not seen";
    later.join();
    EXPECT_EQ("20", shownAt(7));
}

TEST_F(Receiving, DropsWhatCameLessThanTwentyBehindTheLastOfItsSource) {
    struct Case {
        int last, next;
        const char* shown;
    };
    const Case cases[] = {{10, 11, "2"}, {250, 5, "2"}, {10, 246, "2"}, {0, 236, "2"},
                          {10, 10, "1"}, {10, 9, "1"},  {10, 247, "1"}, {5, 250, "1"}};
    int ms = 0;
    for (const Case& test : cases) {
        ms += 10000; // the source of the case before is lost by then
        sendE131(ms, 1, test.last);
        sendE131(ms + 1, 2, test.next);
        EXPECT_EQ(test.shown, shownAt(ms + 1)) << test.next << " after " << test.last;
    }
    EXPECT_EQ(4u, receiver.droppedCount());
}

TEST_F(Receiving, TheHigherPrioritySourceHoldsTheCubeAndAtEqualTheHolderKeepsIt) {
    struct Step {
        std::uint8_t cid;
        int priority;
        const char* shown; // each source lights the pixel of its CID
    };
    const Step steps[] = {{1, 100, "1"}, {2, 100, "1"}, {2, 150, "2"}, {1, 120, "2"},
                          {2, 50, "1"},  {3, 120, "1"}, {1, 0, "3"}};
    int sequence[4] = {};
    for (std::size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const Step& step = steps[i];
        sendE131((int)i * 10, step.cid, ++sequence[step.cid], step.priority, step.cid);
        EXPECT_EQ(step.shown, shownAt((int)i * 10)) << "step " << i;
    }
}

TEST_F(Receiving, TheMusicComesBackAtStreamEndOrTwoAndAHalfSecondsAfterTheLastPacket) {
    sendE131(0, 1, 1, 100, 1);
    sendE131(10, 2, 1, 100, 2);
    sendE131(20, 7, 2, 100, 1, kE131OptionTerminated);
    EXPECT_EQ("2", shownAt(20)) << "the other source takes over at once";
    EXPECT_EQ("2", shownAt(2509));
    EXPECT_EQ("music", shownAt(2510));
    EXPECT_EQ("music", shownAt(5000));
    const std::vector<std::string> told = {
        "The cube is lit by Show 1 over E1.31 (from 192.168.1.1)",
        "The cube is lit by Show 2 over E1.31 (from 192.168.1.2)",
        "The cube shows the music again"};
    EXPECT_EQ(told, news);
}

TEST_F(Receiving, PreviewsAndOtherUniversesAreNotShownAndAWrongUniverseIsToldOnce) {
    sendE131(0, 1, 1, 100, 1, kE131OptionPreview);
    for (int ms = 0; ms <= 3000; ms += 500)
        sendE131(ms, 1, 1 + ms / 500, 100, 2, 0, 7);
    EXPECT_EQ("music", shownAt(3000));
    EXPECT_EQ(1u, receiver.droppedCount()) << "only the preview counts as dropped";
    EXPECT_EQ(std::vector<std::string>{"E1.31 arrives for universe 7, but the cube shows "
                                       "universe 1"},
              news);
    receiver.setUniverse(7);
    sendE131(3500, 1, 9, 100, 2, 0, 7);
    EXPECT_EQ("1", shownAt(3500));
}

TEST_F(Receiving, DdpShowsAtThePushOrEachPacketFromSendersThatNeverPush) {
    DdpFields first, last;
    first.flags = 0x40;
    first.data = pixels({3});
    first.data.resize(180);
    last.offset = 180;
    last.data = pixels({70});
    last.data.erase(last.data.begin(), last.data.begin() + 180);
    sendDdp(0, last, "10.0.0.1"); // the sender pushes from now on
    EXPECT_EQ("70", shownAt(0));
    sendDdp(10, first, "10.0.0.1");
    EXPECT_EQ("70", shownAt(10)) << "shown before its push";
    sendDdp(20, last, "10.0.0.1");
    EXPECT_EQ("3 70", shownAt(20)) << "the two halves did not make one frame";

    sendDdp(3000, first, "10.0.0.2"); // never pushes
    EXPECT_EQ("3", shownAt(3000));
    DdpFields beyond = first; // past the cube's 375 channels: nothing changes
    beyond.offset = 375;
    beyond.data = pixels({0});
    sendDdp(3010, beyond, "10.0.0.2");
    EXPECT_EQ("3", shownAt(3010));
    EXPECT_EQ("The cube is lit over DDP (from 10.0.0.2)", news.back());
}

TEST_F(Receiving, GarbageAndFloodsAreCountedAndSayNothing) {
    const Bytes garbage[] = {{}, {0x00}, Bytes(700, 0xFF), Bytes(125, 0x10)};
    for (const Bytes& bytes : garbage) {
        receiver.receiveE131(bytes.data(), bytes.size(), "10.0.0.9", start);
        receiver.receiveDdp(bytes.data(), bytes.size(), "10.0.0.9", start);
    }
    DdpFields query;
    query.flags = 0x42;
    sendDdp(0, query);
    for (int cid = 1; cid <= 20; ++cid) // more sources than are kept
        sendE131(1, 0, 1, 100, (std::uint8_t)cid);
    EXPECT_EQ(2 * 4 + 1 + 4u, receiver.droppedCount());
    EXPECT_EQ(std::vector<std::string>{"The cube is lit by Show 1 over E1.31 (from 192.168.1.1)"},
              news);
}

} // namespace
