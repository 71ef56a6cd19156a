// Other lighting programs light the cube through the listener (the Windows build under test under
// Wine, and the Linux edition natively in linux_listener_tests): E1.31 and DDP sent to the
// loopback address as the common senders send them, the frames read off the pty behind its
// port. Off unless asked; the newest frame, never a queue; bad packets change nothing; the music
// comes back when the sender stops.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#ifndef LUMO_LINUX_EDITION
#include "fake_audio.h"
#endif
#include "light_packets.h"
#include "listener_session.h"
#include "sound_server.h"
#include "udp_sender.h"

namespace {

using namespace listenertest;
using namespace lightpackets;
using cubebytes::frameBytes;
using harness::Pty;

// The frame whose LEDs are the lit pixels: pixel i is bit i mod 5 of payload byte i / 5.
cubebytes::Bytes frameOfPixels(std::initializer_list<int> lit) {
    cubebytes::Bytes frame = frameBytes(kPatternLevels, 0);
    for (int pixel : lit)
        frame[1 + pixel / 5] |= (unsigned char)(1 << pixel % 5);
    return frame;
}

// A sender that keeps sending its newest packet every 25 ms, as sequencers do, counting its
// sequence up, until it is told to stop.
class Sender {
  public:
    explicit Sender(E131Fields fields) : fields_(std::move(fields)) {
        thread_ = std::thread([this] {
            while (!stopping_) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    fields_.sequence = (fields_.sequence + 1) & 0xFF;
                    udp_.send("127.0.0.1", 5568, e131(fields_));
                }
                std::this_thread::sleep_for(milliseconds(25));
            }
        });
    }
    ~Sender() { stop(); }
    void show(const Bytes& channels) {
        std::lock_guard<std::mutex> lock(mutex_);
        fields_.channels = channels;
    }
    // The stream's end, as a sender says it: three packets with the option set.
    void terminate() {
        stop();
        for (int i = 0; i < 3; ++i) {
            fields_.sequence = (fields_.sequence + 1) & 0xFF;
            fields_.options = 0x40;
            udp_.send("127.0.0.1", 5568, e131(fields_));
        }
    }
    void stop() {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
    }

  private:
    E131Fields fields_;
    harness::UdpSender udp_;
    std::mutex mutex_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

struct LightSession {
    harness::SoundServer server;
    Pty pty;
    std::unique_ptr<EditionListener> edition;
    ListenerRun* listener;

    explicit LightSession(std::vector<std::string> extra = {"--network"}) {
#ifndef LUMO_LINUX_EDITION
        harness::restoreSystemAudio();
#endif
        std::vector<std::string> args = {"--device", "Monitor of Speakers"};
        args.insert(args.end(), extra.begin(), extra.end());
        edition = std::make_unique<EditionListener>(pty, args, server.environment());
        listener = &edition->run();
        EXPECT_TRUE(listener->waitForLine("The cube on " + edition->port() + " is lit"));
    }
    std::vector<Bytes> frames() {
        return readCubeLine(pty.bytes()).frames;
    }
    bool lastFrameIs(const Bytes& frame, milliseconds limit = seconds(20)) {
        return harness::waitUntil(
            [&] {
                std::vector<Bytes> now = frames();
                return !now.empty() && now.back() == frame;
            },
            limit);
    }
    // Frames that arrived in the next `span`.
    std::vector<Bytes> framesDuring(milliseconds span) {
        size_t from = frames().size();
        std::this_thread::sleep_for(span);
        std::vector<Bytes> now = frames();
        return std::vector<Bytes>(now.begin() + (long)from, now.end());
    }
};

TEST(ListenerLight, OffUnlessAskedNoSocketIsOpenAndPacketsChangeNothing) {
    LightSession session(std::vector<std::string>{});
    ASSERT_TRUE(harness::udpPortIsFree(5568) && harness::udpPortIsFree(4048))
        << "the listener holds a port it was not asked to open";
    E131Fields fields;
    fields.channels = pixels({62});
    Sender sender(fields);
    std::vector<Bytes> frames = session.framesDuring(milliseconds(1500));
    EXPECT_GT(frames.size(), 20u);
    EXPECT_EQ(frames.size(), countOf(frames, frameBytes(kPatternLevels, 0)))
        << cubebytes::hex(session.pty.bytes());
    EXPECT_EQ(0u, session.listener->count("The cube is lit by"));
}

TEST(ListenerLight, PixelsLightTheirLedsFromHalfBrightnessOnAndTheMusicComesBackAtTheEnd) {
    LightSession session;
    E131Fields fields;
    // Pixel 0 is plane 1, row 1, bit 0; 124 the last LED; 61 half on, 60 just under it, in green.
    Bytes channels = pixels({0, 42, 124});
    channels[3 * 60 + 1] = 127;
    channels[3 * 61 + 1] = 128;
    fields.channels = channels;
    Sender sender(fields);
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({0, 42, 61, 124})))
        << cubebytes::hex(session.pty.bytes());
    ASSERT_TRUE(
        session.listener->waitForLine("The cube is lit by xLights over E1.31 (from 127.0.0.1)"));
    // The sender's frames replace the mode's: Levels' dark frame no longer comes.
    std::vector<Bytes> held = session.framesDuring(milliseconds(1000));
    EXPECT_EQ(0u, countOf(held, frameBytes(kPatternLevels, 0)))
        << cubebytes::hex(session.pty.bytes());

    sender.terminate();
    ASSERT_TRUE(session.listener->waitForLine("The cube shows the music again"));
    EXPECT_TRUE(session.lastFrameIs(frameBytes(kPatternLevels, 0), seconds(2)));
    EXPECT_EQ(1u, session.listener->count("The cube is lit by")) << session.listener->output();
    EXPECT_EQ(0, session.edition->stop());
    CubeLine line = readCubeLine(session.pty.settledBytes());
    EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0)
        << cubebytes::hex(session.pty.bytes());
}

TEST(ListenerLight, ASenderThatFallsSilentGivesTheCubeBackAfterTwoAndAHalfSeconds) {
    LightSession session;
    E131Fields fields;
    fields.channels = pixels({12});
    Sender sender(fields);
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({12})));
    sender.stop();
    auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.lastFrameIs(frameBytes(kPatternLevels, 0), seconds(10)));
    double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    EXPECT_GT(after, 2.0);
    EXPECT_LT(after, 4.5);
    EXPECT_EQ(1u, session.listener->count("The cube shows the music again"));
}

TEST(ListenerLight, TheUniversesMulticastGroupIsJoined) {
    if (!harness::loopbackCarriesMulticast()) {
        // A network's senders multicast by default; only the group's join is not shown here.
        GTEST_SKIP() << "this machine's loopback carries no multicast";
    }
    LightSession session({"--network", "--universe", "300"});
    E131Fields fields;
    fields.universe = 300; // 239.255.1.44
    fields.channels = pixels({24});
    harness::UdpSender udp;
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            fields.sequence = (fields.sequence + 1) & 0xFF;
            udp.send("239.255.1.44", 5568, e131(fields));
            std::vector<Bytes> frames = session.frames();
            return !frames.empty() && frames.back() == frameOfPixels({24});
        },
        seconds(20)))
        << cubebytes::hex(session.pty.bytes());
}

// What the common senders send that is not the cube's light: none of it changes the frame.
struct NotLight {
    const char* what;
    E131Fields fields;
};

TEST(ListenerLight, OtherUniversesStartCodesOldPacketsAndGarbageChangeNothing) {
    LightSession session;
    E131Fields shown;
    shown.sequence = 100;
    shown.channels = pixels({7});
    harness::UdpSender udp;
    auto send = [&](const Bytes& datagram, int port = 5568) {
        for (int i = 0; i < 10; ++i) {
            udp.send("127.0.0.1", port, datagram);
            std::this_thread::sleep_for(milliseconds(20));
        }
    };
    send(e131(shown));
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({7})));

    E131Fields otherUniverse = shown, priorities = shown, old = shown;
    otherUniverse.universe = 2;
    otherUniverse.sequence = 101;
    otherUniverse.channels = pixels({8});
    priorities.startCode = 0xDD; // per-address priority, as sACN senders add
    priorities.sequence = 102;
    priorities.channels = Bytes(375, 200);
    old.sequence = 90; // ten behind the last one shown
    old.channels = pixels({9});
    send(e131(otherUniverse));
    send(e131(priorities));
    send(e131(old));
    Bytes garbage = e131(shown);
    garbage.resize(100); // cut short
    send(garbage);
    send(Bytes(600, 0x2A));
    send(Bytes{0x41, 0x01}, 4048);
    std::vector<Bytes> frames = session.framesDuring(milliseconds(500));
    for (const Bytes& frame : frames)
        EXPECT_EQ(frameOfPixels({7}), frame) << cubebytes::hex(frame);
    CubeLine line = readCubeLine(session.pty.bytes());
    EXPECT_EQ(0u, line.strays) << cubebytes::hex(session.pty.bytes());

    E131Fields next = shown;
    next.sequence = 103;
    next.channels = pixels({10});
    send(e131(next));
    EXPECT_TRUE(session.lastFrameIs(frameOfPixels({10})));
}

TEST(ListenerLight, PacketsFasterThanTheLineShowTheNewestAtMostOneFramePerLineTime) {
    LightSession session;
    harness::UdpSender udp;
    E131Fields fields;
    size_t before = session.frames().size();
    auto started = std::chrono::steady_clock::now();
    // 125 frames, one LED each, 2 ms apart: seven times faster than the line.
    for (int pixel = 0; pixel < 125; ++pixel) {
        fields.sequence = pixel + 1;
        fields.channels = pixels({pixel});
        udp.send("127.0.0.1", 5568, e131(fields));
        std::this_thread::sleep_for(milliseconds(2));
    }
    double sent =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({124})));
    std::vector<Bytes> frames = session.frames();
    std::vector<Bytes> shown(frames.begin() + (long)before, frames.end());
    // The newest each time: the LEDs shown only ever move on, and most were never shown.
    int last = -1;
    size_t light = 0;
    for (const Bytes& frame : shown) {
        for (int pixel = 0; pixel < 125; ++pixel) {
            if (frame == frameOfPixels({pixel})) {
                EXPECT_GT(pixel, last) << "an older frame came after a newer one";
                last = pixel;
                ++light;
            }
        }
    }
    EXPECT_LE((double)light, sent / 14.0625 + 3) << "frames came faster than the line takes them";
    EXPECT_LT(light, 60u);
}

TEST(ListenerLight, TheHigherPriorityWinsAndTheLowerOneTakesOverWhenItEnds) {
    LightSession session;
    E131Fields low, high;
    low.sourceName = "Vixen";
    low.channels = pixels({1});
    high.sourceName = "Jinx";
    high.cid[0] = 0x77;
    high.priority = 150;
    high.channels = pixels({2});
    Sender lowSender(low);
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({1})));
    Sender highSender(high);
    ASSERT_TRUE(session.lastFrameIs(frameOfPixels({2})));
    ASSERT_TRUE(session.listener->waitForLine("The cube is lit by Jinx over E1.31"));
    std::vector<Bytes> frames = session.framesDuring(milliseconds(500));
    EXPECT_EQ(0u, countOf(frames, frameOfPixels({1}))) << "the lower priority still showed";
    highSender.terminate();
    EXPECT_TRUE(session.lastFrameIs(frameOfPixels({1})));
    EXPECT_EQ(2u, session.listener->count("The cube is lit by Vixen over E1.31"));
}

TEST(ListenerLight, DdpShowsAtThePushAndLightTheCubeStillWorksWhileASenderHoldsIt) {
    LightSession session;
    harness::UdpSender udp;
    // WLED sends a frame in pieces and pushes with the last.
    DdpFields first, second;
    Bytes channels = pixels({3, 100});
    first.flags = 0x40;
    first.data = Bytes(channels.begin(), channels.begin() + 180);
    second.offset = 180;
    second.data = Bytes(channels.begin() + 180, channels.end());
    std::atomic<bool> stop{false};
    std::thread sending([&] {
        while (!stop) {
            udp.send("127.0.0.1", 4048, ddp(first));
            udp.send("127.0.0.1", 4048, ddp(second));
            std::this_thread::sleep_for(milliseconds(25));
        }
    });
    EXPECT_TRUE(session.lastFrameIs(frameOfPixels({3, 100})));
    EXPECT_TRUE(session.listener->waitForLine("The cube is lit over DDP (from 127.0.0.1)"));

#ifndef LUMO_LINUX_EDITION // the Linux listener has no menu
    harness::Finished chosen = harness::runWindowsProgram(harness::build().bin + "/tray_menu.exe",
                                                          {"c"}, session.edition->windowsFolder());
    EXPECT_EQ(0, chosen.exitCode) << chosen.output;
    EXPECT_TRUE(session.lastFrameIs(frameBytes(kPatternLevels, 5), seconds(5)));
    EXPECT_TRUE(session.lastFrameIs(frameOfPixels({3, 100}), seconds(5)));
#endif
    stop = true;
    sending.join();
}

} // namespace
