// lumolisten for Linux end to end, natively: sound played into a private sound server's null
// sinks, the real program listening through libpulse, the frames read back off a pty behind
// its port path, and what it says read off its standard output. Every case runs against
// PulseAudio and against PipeWire's pulse server (with WirePlumber), as desktops have either.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>

#include "listener_session.h"
#include "sound_server.h"

namespace harness {
// How ctest and a failure name a case's server.
void PrintTo(SoundServerKind kind, std::ostream* out) {
    *out << soundServerName(kind);
}
} // namespace harness

namespace {

using namespace listenertest;
using cubebytes::frameBytes;
using cubebytes::frameFor;
using cubebytes::hex;
using harness::Pty;
using harness::SoundServer;
using harness::SoundServerKind;
using std::chrono::steady_clock;

const SoundServerKind kKinds[] = {SoundServerKind::PulseAudio, SoundServerKind::PipeWire};

std::string kindName(const ::testing::TestParamInfo<SoundServerKind>& info) {
    return harness::soundServerName(info.param);
}

// Two tones of different levels in Levels: the one that should be heard, and another one that
// plays elsewhere and must never reach the cube.
const double kToneAmplitude = 0.5, kToneFrequency = 2000;
const double kOtherAmplitude = 0.12, kOtherFrequency = 1000;
const Bytes kTone = frameFor(kPatternLevels, toneLevel(kToneAmplitude, kToneFrequency));
const Bytes kOther = frameFor(kPatternLevels, toneLevel(kOtherAmplitude, kOtherFrequency));
const Bytes kDark = frameBytes(kPatternLevels, 0);

std::vector<Bytes> framesOn(const Pty& pty) {
    return readCubeLine(pty.bytes()).frames;
}

// The newest bytes on the line, for a failure message.
std::string lineEnd(const Pty& pty) {
    Bytes bytes = pty.bytes();
    size_t keep = 4 * kCubeFrameSize;
    return "... " +
           hex(Bytes(bytes.size() > keep ? bytes.end() - (long)keep : bytes.begin(), bytes.end()));
}

// Waits until the newest frame on the line is `frame`.
bool lastFrameBecomes(const Pty& pty, const Bytes& frame, milliseconds limit = seconds(20)) {
    return harness::waitUntil(
        [&] {
            std::vector<Bytes> frames = framesOn(pty);
            return !frames.empty() && frames.back() == frame;
        },
        limit);
}

// Waits for `count` more frames than the line carries now.
bool moreFrames(Pty& pty, size_t count) {
    return pty.waitForBytes(pty.bytes().size() + count * kCubeFrameSize, seconds(20));
}

class LinuxListenerTest : public ::testing::TestWithParam<SoundServerKind> {
  protected:
    void SetUp() override {
        std::string missing = harness::soundServerMissing(GetParam());
        if (!missing.empty())
            GTEST_SKIP() << missing;
    }
    std::unique_ptr<SoundServer> serve(const std::vector<harness::Sink>& sinks,
                                       SoundServer::When when = SoundServer::kStartNow) {
        return std::make_unique<SoundServer>(sinks, GetParam(), when);
    }
    std::unique_ptr<SoundServer> serveSpeakers() {
        return serve({{"speakers", 44100, "Speakers"}});
    }
    std::string tone(double amplitude, double frequency, int rate = 44100) {
        std::string path = folder_.file("tone-" + std::to_string((int)frequency) + "-" +
                                        std::to_string(rate) + ".wav");
        return harness::writeToneWav(path, rate, 2, 60, amplitude, frequency);
    }
    std::string port() const { return folder_.file("cube"); }
    std::vector<std::string> environment(const SoundServer& server) { return server.environment(); }

    LinuxListenerFolder folder_;
};

INSTANTIATE_TEST_SUITE_P(SoundServers, LinuxListenerTest, ::testing::ValuesIn(kKinds), kindName);

struct ToneCase {
    SoundServerKind kind;
    ModeTone tone;
    int rate;
};

std::vector<ToneCase> toneCases() {
    std::vector<ToneCase> cases;
    for (SoundServerKind kind : kKinds)
        for (const ModeTone& tone : kModeTones)
            for (int rate : {44100, 48000})
                cases.push_back({kind, tone, rate});
    return cases;
}

void PrintTo(const ToneCase& test, std::ostream* out) {
    *out << harness::soundServerName(test.kind) << ", " << test.tone.mode << " at " << test.rate
         << " Hz";
}

class LinuxListenerTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(LinuxListenerTone, ASteadyToneGivesThePlayersFrameAtTheModesPace) {
    const ToneCase test = GetParam();
    std::string missing = harness::soundServerMissing(test.kind);
    if (!missing.empty())
        GTEST_SKIP() << missing;
    SoundServer server({{"speakers", test.rate, "Speakers"}}, test.kind);
    LinuxListenerFolder folder;
    Pty pty;
    pty.linkAt(folder.file("cube"));
    server.play("speakers", harness::writeToneWav(folder.file("tone.wav"), test.rate, 2, 30,
                                                  test.tone.amplitude, test.tone.frequency));
    ASSERT_TRUE(server.waitUntilPlaying("speakers"));

    const double seconds = 4;
    LinuxListener listener(
        folder, {"--mode", test.tone.mode, "--port", folder.file("cube"), "--seconds", "4"},
        server.environment());
    EXPECT_EQ(0, listener.finish());
    EXPECT_EQ(1u, listener.count("Listening to what this machine plays (Speakers)"))
        << listener.output();
    EXPECT_EQ(1u, listener.count("The cube on " + folder.file("cube") + " is lit"))
        << listener.output();

    Bytes bytes = pty.settledBytes();
    CubeLine line = readCubeLine(bytes);
    EXPECT_TRUE(line.startFirst && line.stopLast) << hex(bytes);
    EXPECT_EQ(1u, line.starts);
    EXPECT_EQ(0u, line.strays);
    // Once the sound has come through, every frame is the tone's, as the player would give it.
    Bytes expected =
        frameFor(test.tone.pattern, toneLevel(test.tone.amplitude, test.tone.frequency));
    std::vector<Bytes> later(line.frames.begin() + (long)line.frames.size() / 2, line.frames.end());
    EXPECT_GE(countOf(later, expected), later.size() * 9 / 10)
        << test.tone.mode << ": expected " << hex(expected) << ", the line carried " << hex(bytes);
    double nominal = seconds * 1000 / test.tone.delayMs;
    EXPECT_GT((double)line.frames.size(), nominal * 0.7) << test.tone.mode;
    EXPECT_LT((double)line.frames.size(), nominal * 1.15) << test.tone.mode;
}

INSTANTIATE_TEST_SUITE_P(EveryModeAtBothRates, LinuxListenerTone, ::testing::ValuesIn(toneCases()),
                         [](const ::testing::TestParamInfo<ToneCase>& info) {
                             return std::string(harness::soundServerName(info.param.kind)) +
                                    info.param.tone.mode + "At" + std::to_string(info.param.rate);
                         });

TEST_P(LinuxListenerTest, WhenTheMusicStopsTheCubeGoesDarkAndStaysAtThePace) {
    auto server = serveSpeakers();
    Pty pty;
    pty.linkAt(port());
    server->play("speakers", tone(kToneAmplitude, kToneFrequency));
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);

    server->stopPlaying();
    ASSERT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    size_t from = framesOn(pty).size();
    steady_clock::time_point started = steady_clock::now();
    // Levels sends 20 frames a second, dark ones too: two seconds' worth.
    ASSERT_TRUE(moreFrames(pty, 40)) << lineEnd(pty);
    double took = std::chrono::duration<double>(steady_clock::now() - started).count();
    std::vector<Bytes> frames = framesOn(pty);
    std::vector<Bytes> quiet(frames.begin() + (long)from, frames.end());
    EXPECT_EQ(quiet.size(), countOf(quiet, kDark)) << lineEnd(pty);
    EXPECT_GT(took, 40 * 0.05 * 0.7) << "40 frames came in " << took << " s";
    EXPECT_EQ(0, listener.stop(SIGTERM));
    CubeLine line = readCubeLine(pty.settledBytes());
    EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0) << lineEnd(pty);
}

TEST_P(LinuxListenerTest, TheDefaultOutputIsFollowedWhenItChangesAndWhenItGoes) {
    auto server = serveSpeakers();
    int headphones = server->loadSink("headphones", 48000, "Headphones");
    Pty pty;
    pty.linkAt(port());
    server->play("speakers", tone(kOtherAmplitude, kOtherFrequency));
    server->play("headphones", tone(kToneAmplitude, kToneFrequency, 48000));
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    ASSERT_TRUE(listener.waitForLine("Listening to what this machine plays (Speakers)"));
    ASSERT_TRUE(lastFrameBecomes(pty, kOther)) << lineEnd(pty);

    steady_clock::time_point changed = steady_clock::now();
    server->setDefaultSink("headphones");
    ASSERT_TRUE(listener.waitForLine("Listening to what this machine plays (Headphones)"));
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    // At once on the server's news, and within 1.5 s by looking should the news be missed.
    RecordProperty(
        "follow_ms",
        (int)std::chrono::duration_cast<milliseconds>(steady_clock::now() - changed).count());
    size_t from = framesOn(pty).size();
    ASSERT_TRUE(moreFrames(pty, 20));
    std::vector<Bytes> frames = framesOn(pty);
    std::vector<Bytes> after(frames.begin() + (long)from, frames.end());
    EXPECT_EQ(after.size(), countOf(after, kTone)) << lineEnd(pty);

    // Headphones unplugged: the server's new default is heard, with nothing said in between.
    // (The server would move a player of the headphones to the speakers too: it goes first.)
    server->stopPlaying();
    server->unloadModule(headphones);
    server->play("speakers", tone(kOtherAmplitude, kOtherFrequency));
    EXPECT_TRUE(harness::waitUntil(
        [&] { return listener.count("Listening to what this machine plays (Speakers)") == 2; },
        seconds(20)))
        << listener.output();
    EXPECT_TRUE(lastFrameBecomes(pty, kOther)) << lineEnd(pty);
    EXPECT_EQ(3u, listener.count("Listening to")) << listener.output();
    EXPECT_EQ(0u, listener.count("no sound output")) << listener.output();
}

// Without PA_STREAM_DONT_MOVE the server would move the recorder of a monitor whose sink goes to
// the default source (a microphone on a real machine; here another sink's monitor with a tone
// of its own), and that tone would light the cube.
TEST_P(LinuxListenerTest,
       ARecordingDeviceThatGoesIsToldOnceStaysDarkNeverTheMicrophoneAndComesBack) {
    auto server = serve({{"microphone", 44100, "Microphone"}});
    int speakers = server->loadSink("speakers", 44100, "Speakers");
    server->setDefaultSource("microphone.monitor");
    Pty pty;
    pty.linkAt(port());
    server->play("microphone", tone(kOtherAmplitude, kOtherFrequency));
    server->play("speakers", tone(kToneAmplitude, kToneFrequency));
    LinuxListener listener(folder_, {"--port", port(), "--device", "Monitor of Speakers"},
                           environment(*server));
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);

    server->unloadModule(speakers);
    EXPECT_TRUE(listener.waitForLine(
        "The sound device Monitor of Speakers went away; the cube stays dark until it is back"));
    EXPECT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    ASSERT_TRUE(moreFrames(pty, 40)); // two seconds of the retries
    EXPECT_EQ(0u, countOf(framesOn(pty), kOther)) << "the microphone's tone reached the cube";

    server->loadSink("speakers", 44100, "Speakers");
    server->play("speakers", tone(kToneAmplitude, kToneFrequency));
    EXPECT_TRUE(harness::waitUntil(
        [&] { return listener.count("Listening to Monitor of Speakers") == 2; }, seconds(20)))
        << listener.output();
    EXPECT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    EXPECT_EQ(1u, listener.count("went away")) << listener.output();
    EXPECT_EQ(0u, listener.count("is not there")) << listener.output();
    EXPECT_EQ(0u, countOf(framesOn(pty), kOther)) << "the microphone's tone reached the cube";
}

TEST_P(LinuxListenerTest, ASoundServerThatComesLaterOrGoesIsToldOnceAndHeardWhenThere) {
    auto server = serve({{"speakers", 44100, "Speakers"}}, SoundServer::kStartLater);
    Pty pty;
    pty.linkAt(port());
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    ASSERT_TRUE(
        listener.waitForLine("The sound server is not there yet; the cube stays dark until it is"));
    ASSERT_TRUE(moreFrames(pty, 20)); // dark, at the mode's pace, while it waits

    server->start();
    server->play("speakers", tone(kToneAmplitude, kToneFrequency));
    ASSERT_TRUE(listener.waitForLine("Listening to what this machine plays (Speakers)"));
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);

    server->stopPlaying();
    server->stop();
    ASSERT_TRUE(
        listener.waitForLine("The sound server went away; the cube stays dark until it is back"));
    EXPECT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    ASSERT_TRUE(moreFrames(pty, 40)); // its retries, unsaid

    server->start();
    server->play("speakers", tone(kToneAmplitude, kToneFrequency));
    EXPECT_TRUE(
        harness::waitUntil([&] { return listener.count("Listening to") == 2; }, seconds(20)))
        << listener.output();
    EXPECT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    EXPECT_EQ(1u, listener.count("not there yet")) << listener.output();
    EXPECT_EQ(1u, listener.count("went away")) << listener.output();
}

// Every question to the server has a time limit: a server that hangs is told, and the
// listener still stops at once with the stop byte.
TEST_P(LinuxListenerTest, AServerThatHangsIsToldAndStoppingStillEndsWithTheStopByte) {
    auto server = serveSpeakers();
    Pty pty;
    pty.linkAt(port());
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    ASSERT_TRUE(listener.waitForLine("Listening to what this machine plays (Speakers)"));
    server->freeze();
    EXPECT_TRUE(listener.waitForLine(
        "The sound server does not answer; the cube stays dark until it does"));
    steady_clock::time_point asked = steady_clock::now();
    EXPECT_EQ(0, listener.stop(SIGTERM));
    server->thaw();
    RecordProperty(
        "stop_ms",
        (int)std::chrono::duration_cast<milliseconds>(steady_clock::now() - asked).count());
    CubeLine line = readCubeLine(pty.settledBytes());
    EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0) << lineEnd(pty);
}

TEST_P(LinuxListenerTest, APortMissingThenPluggedPulledAndPluggedAgainLightsWithTheStartByte) {
    auto server = serveSpeakers();
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    const std::string missing = "Cannot open " + port() + ": there is no such port";
    const std::string lit = "The cube on " + port() + " is lit";
    ASSERT_TRUE(listener.waitForLine(missing));
    {
        Pty first;
        first.linkAt(port());
        ASSERT_TRUE(listener.waitForLine(lit));
        ASSERT_TRUE(moreFrames(first, 5));
        EXPECT_EQ(kCubeStartByte, first.bytes().front()) << hex(first.bytes());
        // The adapter pulled out: the line ends, and the device with it.
        first.closeMaster();
        first.closeSlave();
        EXPECT_TRUE(harness::waitUntil([&] { return listener.count(missing) == 2; }, seconds(20)))
            << listener.output();
    }
    Pty second;
    second.linkAt(port());
    EXPECT_TRUE(harness::waitUntil([&] { return listener.count(lit) == 2; }, seconds(20)))
        << listener.output();
    ASSERT_TRUE(moreFrames(second, 5));
    EXPECT_EQ(0, listener.stop(SIGTERM));
    CubeLine line = readCubeLine(second.settledBytes());
    EXPECT_TRUE(line.startFirst && line.stopLast && line.starts == 1 && line.strays == 0)
        << hex(second.bytes());
}

TEST_P(LinuxListenerTest, SigtermAndSigintEndWithTheStopByteAndExitCodeZero) {
    auto server = serveSpeakers();
    for (int signal : {SIGTERM, SIGINT}) {
        Pty pty;
        pty.linkAt(port());
        LinuxListener listener(folder_, {"--port", port()}, environment(*server));
        ASSERT_TRUE(listener.waitForLine("The cube on " + port() + " is lit"));
        ASSERT_TRUE(moreFrames(pty, 5));
        EXPECT_EQ(0, listener.stop(signal)) << strsignal(signal);
        Bytes bytes = pty.settledBytes();
        CubeLine line = readCubeLine(bytes);
        EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0)
            << strsignal(signal) << ": " << hex(bytes);
        EXPECT_EQ(1u, listener.count("Stopped; the cube on " + port() + " is let go"))
            << listener.output();
    }
}

TEST_P(LinuxListenerTest, SighupReadsTheModeFromTheSettingsAgain) {
    auto server = serveSpeakers();
    Pty pty;
    pty.linkAt(port());
    server->play("speakers", tone(0.5, 1200));
    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=Star\n");
    LinuxListener listener(folder_, {"--port", port()}, environment(*server));
    const int level = toneLevel(0.5, 1200);
    ASSERT_TRUE(lastFrameBecomes(pty, frameFor(kPatternStar, level))) << lineEnd(pty);

    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=NewStar\n");
    listener.signal(SIGHUP);
    ASSERT_TRUE(listener.waitForLine("Showing NewStar"));
    EXPECT_TRUE(lastFrameBecomes(pty, frameFor(kPatternNewStar, level))) << lineEnd(pty);
    EXPECT_EQ(0, listener.stop(SIGTERM));
    EXPECT_EQ(1u, readCubeLine(pty.settledBytes()).starts); // the port was kept
}

TEST_P(LinuxListenerTest, ASecondCopyExitsZeroAndLeavesEveryPortAlone) {
    auto server = serveSpeakers();
    Pty first, second;
    first.linkAt(port());
    second.linkAt(folder_.file("other"));
    LinuxListener running(folder_, {"--port", port()}, environment(*server));
    ASSERT_TRUE(running.waitForLine("The cube on " + port() + " is lit"));

    LinuxListener again(folder_, {"--port", folder_.file("other"), "--seconds", "2"},
                        environment(*server));
    EXPECT_EQ(0, again.finish());
    EXPECT_EQ(1u, again.count("Lumo Listen is already running")) << again.output();
    EXPECT_TRUE(second.settledBytes().empty()) << hex(second.bytes());
    EXPECT_TRUE(moreFrames(first, 5)); // the first goes on
    EXPECT_EQ(0, running.stop(SIGTERM));
    EXPECT_TRUE(readCubeLine(first.settledBytes()).stopLast);
}

// The machine's file is /etc/lumo/lumolisten.ini itself: each run sees the test's own file
// there, in a mount namespace of its own, and the machine's /etc is never written. A real
// /dev/ttyUSB0, the default port, is /dev/null to it, so no device of the machine is touched.
TEST_P(LinuxListenerTest, SettingsComeFromTheUsersFileThenTheMachinesThenTheDefaults) {
    harness::TempDir machine;
    std::filesystem::create_directories(machine.file("lumo"));
    const std::string machineFile = machine.file("lumo/lumolisten.ini");
    const std::vector<std::string> mounts = {
        "mount -t overlay overlay -o lowerdir=" + machine.path() + ":/etc /etc",
        "{ [ ! -e /dev/ttyUSB0 ] || mount --bind /dev/null /dev/ttyUSB0; }"};
    auto firstLine = [&](const std::vector<std::string>& args) {
        std::vector<std::string> quick = args;
        quick.insert(quick.end(), {"--seconds", "0.5"});
        LinuxListener listener(folder_, quick, {}, mounts);
        EXPECT_EQ(0, listener.finish()) << listener.output();
        std::string output = listener.output();
        return output.substr(0, output.find('\n'));
    };
    Pty seven, mine;
    seven.linkAt(folder_.file("seven"));
    mine.linkAt(port());
    const std::string listening = ", listening to what this machine plays";

    harness::writeFile(machineFile, "");
    EXPECT_EQ("Lumo Listen: Levels on /dev/ttyUSB0" + listening, firstLine({}));
    // Where a package or an administrator puts the port for everyone.
    harness::writeFile(machineFile,
                       "[lumolisten]\nPort=" + folder_.file("seven") + "\nMode=Star\n");
    EXPECT_EQ("Lumo Listen: Star on " + folder_.file("seven") + listening, firstLine({}));
    // The user's own choice wins, key by key; a choice on the command line is not saved.
    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=NewStar\n");
    EXPECT_EQ("Lumo Listen: NewStar on " + folder_.file("seven") + listening, firstLine({}));
    EXPECT_EQ("Lumo Listen: Levels on " + port() + listening,
              firstLine({"--mode", "Levels", "--port", port()}));
    EXPECT_EQ("[lumolisten]\nMode=NewStar\n", harness::readFile(folder_.settingsPath()));
}

TEST_P(LinuxListenerTest, ABadCommandLineIsOneClearLineAndExitCodeTwoAndNothingIsSent) {
    auto server = serveSpeakers();
    Pty pty;
    pty.linkAt(port());
    struct BadCommandLine {
        std::vector<std::string> args;
        std::string said;
    };
    const BadCommandLine cases[] = {
        {{"--port", port(), "--colour", "red"}, "lumolisten: unknown option --colour"},
        {{"--port", port(), "--mode", "Disco"},
         "lumolisten: --mode takes Star, Levels, NewStar, Spectrum or Pulse, not Disco"},
        {{"--port", "ttyUSB0"},
         "lumolisten: --port takes a serial device's path, such as /dev/ttyUSB0, not ttyUSB0"},
        {{"--port", port(), "--seconds", "soon"},
         "lumolisten: --seconds takes a number of seconds greater than 0, not soon"},
        // The devices there are, by the descriptions people see.
        {{"--port", port(), "--device", "Stereo Mix"},
         "lumolisten: there is no recording device named \"Stereo Mix\"; there are: \"Monitor of "
         "Speakers\""},
    };
    for (const BadCommandLine& test : cases) {
        LinuxListener listener(folder_, test.args, environment(*server));
        EXPECT_EQ(2, listener.finish()) << listener.output();
        std::string output = listener.output();
        EXPECT_EQ(0u, output.find(test.said)) << output;
        EXPECT_EQ(1, std::count(output.begin(), output.end(), '\n')) << output;
    }
    EXPECT_TRUE(pty.settledBytes().empty()) << lineEnd(pty);
}

// A machine whose only terminals are pseudo-terminals: the test shows it an empty
// /sys/class/tty, which is where the serial ports are looked for.
TEST_P(LinuxListenerTest, ListSaysPlainlyThatThereAreNoSerialPortsAndListsTheMonitors) {
    auto server = serve({{"speakers", 44100, "Speakers"}, {"headphones", 48000, "Headphones"}});
    LinuxListener listener(folder_, {"--list"}, environment(*server),
                           {"mount -t tmpfs none /sys/class/tty"});
    EXPECT_EQ(0, listener.finish());
    std::string output = listener.output();
    EXPECT_EQ(0u, output.find("This machine has no serial ports; plug in the cube's USB adapter\n"))
        << output;
    EXPECT_EQ(0u, listener.count("port: ")) << output;
    EXPECT_EQ(1u, listener.count("recording device: Monitor of Speakers\n")) << output;
    EXPECT_EQ(1u, listener.count("recording device: Monitor of Headphones\n")) << output;
}

} // namespace
