// lumolisten.exe against what Windows' audio does and Wine's does not: loopback capture, no
// packets while nothing plays, the default output changing, a device pulled or held in
// exclusive mode, a 24-bit 5.1 mix, a port the player holds. fakeaudio.dll stands in for
// Windows' audio endpoint service (tests/win/fakeaudio/); each test says what Windows does.
#include <gtest/gtest.h>

#include "fake_audio.h"
#include "listener_session.h"
#include "plugin_session.h"

namespace {

using namespace listenertest;
using cubebytes::frameBytes;
using cubebytes::frameFor;
using harness::FakeAudio;
using harness::Pty;

const char kSpeakers[] = "device speakers render \"Speakers\" format=float32 channels=2 "
                         "rate=48000\n"
                         "default render speakers\n";

// A listener of what this PC plays on COM5, and the last frame its line carried.
struct FakedRun {
    explicit FakedRun(const std::string& control, const std::vector<std::string>& args = {})
        : audio(folder.path(), control) {
        pty.linkAsCom(5);
        std::vector<std::string> all = {"--port", "5"};
        all.insert(all.end(), args.begin(), args.end());
        listener.reset(new Listener(folder, all));
    }
    // Waits until the newest frame on the line is `frame`.
    bool showsNow(const Bytes& frame, milliseconds timeout = seconds(10)) {
        bool shown = harness::waitUntil(
            [&] {
                std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
                return !frames.empty() && frames.back() == frame;
            },
            timeout);
        EXPECT_TRUE(shown) << "expected " << cubebytes::hex(frame) << " last; the line carried "
                           << cubebytes::hex(pty.bytes()) << "\nit said:\n"
                           << listener->output();
        return shown;
    }
    // The frames that came during the next `span`.
    std::vector<Bytes> framesDuring(milliseconds span) {
        size_t from = readCubeLine(pty.bytes()).frames.size();
        std::this_thread::sleep_for(span);
        std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
        return std::vector<Bytes>(frames.begin() + (long)from, frames.end());
    }

    Pty pty;
    ListenerFolder folder;
    FakeAudio audio;
    std::unique_ptr<Listener> listener;
};

// Windows hands any output's sound to a loopback capture; Wine refuses it (see e2e_listener).
TEST(ListenerOnWindows, ItHearsWhatThePCPlaysThroughLoopback) {
    FakedRun run(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    ASSERT_TRUE(run.listener->waitForLine("Listening to what this PC plays (Speakers)"));
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 2000)));
    EXPECT_TRUE(run.audio.waitForLog("Initialize speakers shared loopback"));
    EXPECT_EQ(0u, run.listener->count("Cannot hear")) << run.listener->output();
}

// Windows' loopback delivers no packets at all while nothing plays: the cube goes dark and the
// dark frame keeps coming, one per delay.
TEST(ListenerOnWindows, NoPacketsWhileNothingPlaysIsADarkCubeAtThePace) {
    FakedRun run(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 2000)));
    run.audio.setControl(std::string(kSpeakers) + "signal speakers silent\n");
    Bytes dark = frameBytes(kPatternLevels, 0);
    ASSERT_TRUE(run.showsNow(dark));
    std::vector<Bytes> quiet = run.framesDuring(milliseconds(2000));
    EXPECT_GT(quiet.size(), 20u); // Levels: 20 frames a second
    EXPECT_EQ(quiet.size(), countOf(quiet, dark));
    // A packet Windows flags silent is silence, whatever its buffer holds.
    run.audio.setControl(std::string(kSpeakers) + "signal speakers flagsilent\n");
    std::vector<Bytes> flagged = run.framesDuring(milliseconds(1000));
    EXPECT_EQ(flagged.size(), countOf(flagged, dark));
}

// Plugging in headphones makes them Windows' default output, told once per role.
TEST(ListenerOnWindows, ItFollowsTheDefaultOutputWhenItChanges) {
    const std::string devices = "device speakers render \"Speakers\" rate=48000\n"
                                "device headset render \"USB Headset\" rate=44100\n"
                                "signal speakers tone 0.5 1200\n"
                                "signal headset tone 0.5 2000\n";
    FakedRun run(devices + "default render speakers\n");
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 1200)));
    run.audio.setControl(devices + "default render headset\n");
    ASSERT_TRUE(run.listener->waitForLine("Listening to what this PC plays (USB Headset)"));
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 2000)));
}

// An unplugged USB device invalidates its clients; it may come back later.
TEST(ListenerOnWindows, ADeviceThatGoesAwayIsToldOnceTheCubeDarkAndItIsHeardAgain) {
    FakedRun run(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    Bytes lit = frameFor(kPatternLevels, toneLevel(0.5, 2000));
    run.showsNow(lit);
    run.audio.setControl(std::string(kSpeakers) +
                         "signal speakers tone 0.5 2000\ninvalidate speakers\n");
    ASSERT_TRUE(run.listener->waitForLine("went away"));
    run.showsNow(frameBytes(kPatternLevels, 0));
    std::this_thread::sleep_for(milliseconds(3000)); // retried meanwhile, not told again
    EXPECT_EQ(1u, run.listener->count("went away")) << run.listener->output();

    run.audio.setControl(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    run.showsNow(lit);
    EXPECT_EQ(2u, run.listener->count("Listening to what this PC plays (Speakers)"));
}

// A program that holds a device in exclusive mode makes every shared Initialize fail.
TEST(ListenerOnWindows, ADeviceHeldInExclusiveModeIsToldOnceAndTriedAgain) {
    FakedRun run(std::string(kSpeakers) + "signal speakers tone 0.5 2000\nexclusive speakers\n");
    ASSERT_TRUE(run.listener->waitForLine("Speakers is in use by another program"));
    EXPECT_TRUE(harness::waitUntil([&] { return run.audio.countLog("Initialize speakers") >= 3; },
                                   seconds(15)));
    EXPECT_EQ(1u, run.listener->count("in use by another program")) << run.listener->output();
    run.audio.setControl(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 2000)));
}

// Home cinema sound cards mix 5.1 in packed 24-bit; channel 0 is front left.
TEST(ListenerOnWindows, ASixChannelTwentyFourBitMixGivesChannelZerosLevel) {
    FakedRun run("device cinema render \"Speakers (5.1)\" format=int24 channels=6 rate=48000\n"
                 "default render cinema\n"
                 "signal cinema tone 0.5 1400 other=0.9\n",
                 {"--mode", "NewStar"});
    run.showsNow(frameFor(kPatternNewStar, toneLevel(0.5, 1400)));
}

// On Windows a port another program holds does not open (ERROR_ACCESS_DENIED); Wine opens it
// anyway, so the fake says no while the player runs. The player's plugin is really running,
// on another port, so its window is there to be found.
TEST(ListenerOnWindows, WhileThePlayersPluginHoldsThePortItSaysSoAndTakesItOnceLetGo) {
    plugintest::Session player(plugintest::SessionSetup(plugintest::Library::real(), 6));
    player.host("init 0");
    FakedRun run(std::string(kSpeakers) + "signal speakers tone 0.5 2000\nport-error 5\n");
    ASSERT_TRUE(run.listener->waitForLine("COM5 is in use by lumo in the player"));
    player.host("quit");
    run.audio.setControl(std::string(kSpeakers) + "signal speakers tone 0.5 2000\n");
    ASSERT_TRUE(run.listener->waitForLine("The cube on COM5 is lit"));
    run.showsNow(frameFor(kPatternLevels, toneLevel(0.5, 2000)));
    EXPECT_TRUE(readCubeLine(run.pty.bytes()).startFirst) << cubebytes::hex(run.pty.bytes());
    // Without the player, the same refusal is another program's.
    EXPECT_EQ(0u, run.listener->count("another program is using it"));
}

} // namespace
