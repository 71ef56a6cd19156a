// lumolisten.exe end to end under Wine: sound played into a private PulseAudio server's null
// sink, the listener of the build under test capturing it, the frames read back off the pty
// behind its COM port, and what it says read off its standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "fake_audio.h"
#include "listener_session.h"
#include "sound_server.h"

namespace {

using namespace listenertest;
using cubebytes::frameBytes;
using cubebytes::frameFor;
using harness::Pty;
using harness::SoundServer;

const std::string kRefusedLoopback =
    "Cannot hear what this PC plays here; listening to the default recording device instead";

struct ToneCase {
    ModeTone tone;
    int rate;
};

class ListenerTone : public ::testing::TestWithParam<ToneCase> {};

// Wine refuses loopback, so what this PC plays becomes the default recording device, which the
// sound server points at the speakers' monitor: the same sound the speakers get.
TEST_P(ListenerTone, ASteadyToneGivesThePlayersFrameAtTheModesPace) {
    const ToneCase test = GetParam();
    harness::restoreSystemAudio();
    SoundServer server({{"speakers", test.rate, "Speakers"}});
    server.setDefaultSource("speakers.monitor");
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    server.play("speakers", harness::writeToneWav(folder.file("tone.wav"), test.rate, 2, 30,
                                                  test.tone.amplitude, test.tone.frequency));
    ASSERT_TRUE(server.waitUntilPlaying("speakers"));

    const double seconds = 4;
    Listener listener(folder, {"--mode", test.tone.mode, "--port", "5", "--seconds", "4"},
                      server.environment());
    EXPECT_EQ(0, listener.finish());
    EXPECT_EQ(1u, listener.count(kRefusedLoopback)) << listener.output();
    EXPECT_EQ(1u, listener.count("The cube on COM5 is lit")) << listener.output();

    Bytes bytes = pty.settledBytes();
    CubeLine line = readCubeLine(bytes);
    EXPECT_TRUE(line.startFirst) << cubebytes::hex(bytes);
    EXPECT_TRUE(line.stopLast) << cubebytes::hex(bytes);
    EXPECT_EQ(1u, line.starts);
    EXPECT_EQ(0u, line.strays);
    // Once the sound has come through, every frame is the tone's.
    Bytes expected =
        frameFor(test.tone.pattern, toneLevel(test.tone.amplitude, test.tone.frequency));
    std::vector<Bytes> later(line.frames.begin() + (long)line.frames.size() / 2, line.frames.end());
    EXPECT_GE(countOf(later, expected), later.size() * 9 / 10)
        << test.tone.mode << ": expected " << cubebytes::hex(expected) << ", the line carried "
        << cubebytes::hex(bytes);
    // One frame per delay of the mode.
    double nominal = seconds * 1000 / test.tone.delayMs;
    EXPECT_GT((double)line.frames.size(), nominal * 0.7) << test.tone.mode;
    EXPECT_LT((double)line.frames.size(), nominal * 1.15) << test.tone.mode;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ListenerTone,
                         ::testing::Values(ToneCase{kModeTones[0], 44100},
                                           ToneCase{kModeTones[1], 48000},
                                           ToneCase{kModeTones[2], 48000}),
                         [](const ::testing::TestParamInfo<ToneCase>& info) {
                             return std::string(info.param.tone.mode) + "At" +
                                    std::to_string(info.param.rate);
                         });

TEST(Listener, WhenTheMusicStopsTheCubeGoesDarkAndStaysAtThePace) {
    harness::restoreSystemAudio();
    SoundServer server;
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    server.play("speakers",
                harness::writeToneWav(folder.file("tone.wav"), 44100, 2, 30, 0.5, 2000));
    Listener listener(folder,
                      {"--mode", "Levels", "--port", "5", "--device", "Monitor of Speakers"},
                      server.environment());
    Bytes lit = frameFor(kPatternLevels, toneLevel(0.5, 2000));
    ASSERT_TRUE(harness::waitUntil([&] {
        std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
        return !frames.empty() && frames.back() == lit;
    })) << cubebytes::hex(pty.bytes());

    server.stopPlaying();
    std::this_thread::sleep_for(milliseconds(1500)); // the sound's way out of the sink, and more
    size_t quietFrom = readCubeLine(pty.bytes()).frames.size();
    std::this_thread::sleep_for(milliseconds(2000));
    std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
    std::vector<Bytes> quiet(frames.begin() + (long)quietFrom, frames.end());
    // Levels sends 20 frames a second: the dark frame keeps coming.
    EXPECT_GT(quiet.size(), 20u);
    EXPECT_EQ(quiet.size(), countOf(quiet, frameBytes(kPatternLevels, 0)))
        << cubebytes::hex(pty.bytes());
    EXPECT_EQ(0, listener.quit());
    CubeLine line = readCubeLine(pty.settledBytes());
    EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0)
        << cubebytes::hex(pty.bytes());
}

TEST(Listener, AMissingPortIsToldOnceInThePluginsWordsAndTheCubeLightsWhenPluggedIn) {
    harness::restoreSystemAudio();
    SoundServer server;
    std::remove((harness::winePrefix() + "/dosdevices/com9").c_str());
    ListenerFolder folder;
    Listener listener(folder, {"--port", "9", "--device", "Monitor of Speakers"},
                      server.environment());
    ASSERT_TRUE(listener.waitForLine("Cannot open COM9: there is no such port"));
    // It keeps trying, about once a second, without saying it again.
    std::this_thread::sleep_for(milliseconds(3000));
    EXPECT_EQ(1u, listener.count("Cannot open COM9")) << listener.output();

    Pty pty;
    pty.linkAsCom(9);
    ASSERT_TRUE(listener.waitForLine("The cube on COM9 is lit"));
    ASSERT_TRUE(pty.waitForBytes(1 + 3 * kCubeFrameSize));
    EXPECT_EQ(0, listener.quit());
    CubeLine line = readCubeLine(pty.bytes());
    EXPECT_TRUE(line.startFirst) << cubebytes::hex(pty.bytes());
    EXPECT_EQ(0u, line.strays);
}

TEST(Listener, ARecordingDeviceThatGoesAndComesBackIsToldOnceAndHeardAgain) {
    harness::restoreSystemAudio();
    SoundServer server({{"headphones", 44100, "Headphones"}});
    int sinkModule = server.loadSink("speakers", 44100, "Speakers");
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    std::string tone = harness::writeToneWav(folder.file("tone.wav"), 44100, 2, 30, 0.5, 2000);
    server.play("speakers", tone);
    Listener listener(folder, {"--port", "5", "--device", "Monitor of Speakers"},
                      server.environment());
    Bytes lit = frameFor(kPatternLevels, toneLevel(0.5, 2000));
    Bytes dark = frameBytes(kPatternLevels, 0);
    auto lastFrameIs = [&](const Bytes& frame) {
        return harness::waitUntil([&] {
            std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
            return !frames.empty() && frames.back() == frame;
        });
    };
    ASSERT_TRUE(lastFrameIs(lit)) << cubebytes::hex(pty.bytes());

    server.unloadModule(sinkModule);
    ASSERT_TRUE(listener.waitForLine("Monitor of Speakers went away"));
    EXPECT_TRUE(lastFrameIs(dark)) << cubebytes::hex(pty.bytes());

    server.loadSink("speakers", 44100, "Speakers");
    server.play("speakers", tone);
    EXPECT_TRUE(
        harness::waitUntil([&] { return listener.count("Listening to") >= 2; }, seconds(20)))
        << listener.output();
    EXPECT_TRUE(lastFrameIs(lit)) << cubebytes::hex(pty.bytes());
    EXPECT_EQ(1u, listener.count("went away")) << listener.output();
}

TEST(Listener, ASecondCopyLeavesTheRunningOneAndEveryPortAlone) {
    harness::restoreSystemAudio();
    SoundServer server;
    Pty first, second;
    first.linkAsCom(5);
    second.linkAsCom(6);
    ListenerFolder folder;
    Listener running(folder, {"--port", "5", "--device", "Monitor of Speakers"},
                     server.environment());
    ASSERT_TRUE(running.waitForLine("The cube on COM5 is lit"));

    Listener again(folder, {"--port", "6", "--seconds", "2"}, server.environment());
    EXPECT_EQ(0, again.finish());
    EXPECT_EQ(1u, again.count("Lumo Listen is already running")) << again.output();
    EXPECT_TRUE(second.settledBytes().empty()) << cubebytes::hex(second.bytes());
    // The first goes on sending.
    size_t before = first.bytes().size();
    EXPECT_TRUE(first.waitForBytes(before + 5 * kCubeFrameSize));
    EXPECT_EQ(0, running.quit());
    EXPECT_TRUE(readCubeLine(first.settledBytes()).stopLast);
}

struct BadCommandLine {
    std::vector<std::string> args;
    const char* said;
};

TEST(Listener, ABadCommandLineIsOneClearLineAndExitCodeTwoAndNothingIsSent) {
    harness::restoreSystemAudio();
    SoundServer server;
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    const BadCommandLine cases[] = {
        {{"--port", "5", "--colour", "red"}, "lumolisten: unknown option --colour"},
        {{"--port", "5", "--mode", "Disco"},
         "lumolisten: --mode takes Star, Levels, NewStar, Spectrum or Pulse, not Disco"},
        {{"--port", "256"}, "lumolisten: --port takes a number from 1 to 255, not 256"},
        {{"--port", "5", "--device", "Stereo Mix"},
         "lumolisten: there is no recording device named \"Stereo Mix\"; there are: "},
    };
    for (const BadCommandLine& test : cases) {
        Listener listener(folder, test.args, server.environment());
        EXPECT_EQ(2, listener.finish()) << listener.output();
        std::string output = listener.output();
        EXPECT_EQ(0u, output.find(test.said)) << output;
        EXPECT_EQ(1, std::count(output.begin(), output.end(), '\n')) << output;
    }
    // The devices there are, by the names Windows shows.
    Listener listener(folder, {"--device", "Stereo Mix"}, server.environment());
    listener.finish();
    EXPECT_NE(std::string::npos, listener.output().find("\"Monitor of Speakers\""))
        << listener.output();
    EXPECT_TRUE(pty.settledBytes().empty()) << cubebytes::hex(pty.bytes());
}

} // namespace

namespace {

// The first line a run says: the mode and port it starts with.
std::string startLine(const ListenerFolder& folder, const std::vector<std::string>& args) {
    Listener listener(folder, args);
    listener.finish();
    std::string output = listener.output();
    return output.substr(0, output.find('\n'));
}

TEST(Listener, ItStartsFromTheUsersSettingsThenTheOnesBesideItThenCom1AndLevels) {
    Pty one, seven;
    one.linkAsCom(1);
    seven.linkAsCom(7);
    ListenerFolder folder;
    const std::vector<std::string> quick = {"--seconds", "0.5"};
    EXPECT_EQ("Lumo Listen: Levels on COM1, listening to what this PC plays",
              startLine(folder, quick));

    // Where an installer writes the port it was given, for every user of the machine.
    harness::writeFile(folder.file("lumolisten.ini"), "[lumolisten]\r\nPort=7\r\nMode=Star\r\n");
    EXPECT_EQ("Lumo Listen: Star on COM7, listening to what this PC plays",
              startLine(folder, quick));

    // The user's own choice wins, key by key; a choice on the command line is not saved.
    std::string mine = userSettingsPath();
    ASSERT_FALSE(mine.empty());
    std::filesystem::create_directories(std::filesystem::path(mine).parent_path());
    harness::writeFile(mine, "[lumolisten]\r\nMode=NewStar\r\n");
    EXPECT_EQ("Lumo Listen: NewStar on COM7, listening to what this PC plays",
              startLine(folder, quick));
    EXPECT_EQ("Lumo Listen: Levels on COM1, listening to what this PC plays",
              startLine(folder, {"--mode", "Levels", "--port", "1", "--seconds", "0.5"}));
    EXPECT_EQ("[lumolisten]\r\nMode=NewStar\r\n", harness::readFile(mine));
}

} // namespace
