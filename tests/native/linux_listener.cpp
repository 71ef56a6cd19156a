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

const SoundServerKind kKinds[] = {SoundServerKind::PulseAudio, SoundServerKind::PipeWire};

// Two tones of different levels in Levels: the one that should be heard, and another that
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

bool lastFrameBecomes(const Pty& pty, const Bytes& frame) {
    return harness::waitUntil(
        [&] {
            std::vector<Bytes> frames = framesOn(pty);
            return !frames.empty() && frames.back() == frame;
        },
        seconds(20));
}

// Waits for `count` more frames than the line carries now.
bool moreFrames(Pty& pty, size_t count) {
    return pty.waitForBytes(pty.bytes().size() + count * kCubeFrameSize, seconds(20));
}

// A whole run as the cube reads it: the start byte first, the stop byte last, nothing stray.
std::string wholeRunProblem(const Bytes& bytes) {
    CubeLine line = readCubeLine(bytes);
    if (line.startFirst && line.stopLast && line.starts == 1 && line.strays == 0)
        return "";
    return "not one whole run: " + hex(bytes);
}

class LinuxListenerTest : public ::testing::TestWithParam<SoundServerKind> {
  protected:
    void SetUp() override {
        std::string missing = harness::soundServerMissing(GetParam());
        if (!missing.empty())
            GTEST_SKIP() << missing;
    }
    SoundServer& serve(const std::vector<harness::Sink>& sinks = {{"speakers", 44100, "Speakers"}},
                       SoundServer::When when = SoundServer::kStartNow) {
        server_ = std::make_unique<SoundServer>(sinks, GetParam(), when);
        return *server_;
    }
    // A pty behind the port path, as a cube plugged in.
    Pty& plugIn() {
        cube_ = std::make_unique<Pty>();
        cube_->linkAt(port());
        return *cube_;
    }
    // The listener on the port path, hearing the server.
    std::unique_ptr<LinuxListener> listen(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--port", port()});
        return std::make_unique<LinuxListener>(
            folder_, args, server_ ? server_->environment() : std::vector<std::string>());
    }
    std::string tone(double amplitude, double frequency, int rate = 44100) {
        std::string path = folder_.file("tone-" + std::to_string((int)frequency) + "-" +
                                        std::to_string(rate) + ".wav");
        return harness::writeToneWav(path, rate, 2, 60, amplitude, frequency);
    }
    std::string port() const { return folder_.file("cube"); }

    LinuxListenerFolder folder_;
    std::unique_ptr<SoundServer> server_;
    std::unique_ptr<Pty> cube_;
};

INSTANTIATE_TEST_SUITE_P(SoundServers, LinuxListenerTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<SoundServerKind>& info) {
                             return harness::soundServerName(info.param);
                         });

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

    LinuxListener listener(
        folder, {"--mode", test.tone.mode, "--port", folder.file("cube"), "--seconds", "4"},
        server.environment());
    EXPECT_EQ(0, listener.finish());
    EXPECT_EQ(1u, listener.count("Listening to what this machine plays (Speakers)"))
        << listener.output();
    Bytes bytes = pty.settledBytes();
    EXPECT_EQ("", wholeRunProblem(bytes));
    // Once the sound has come through, every frame is the tone's, as the player would give it.
    std::vector<Bytes> frames = readCubeLine(bytes).frames;
    std::vector<Bytes> later(frames.begin() + (long)frames.size() / 2, frames.end());
    Bytes expected =
        frameFor(test.tone.pattern, toneLevel(test.tone.amplitude, test.tone.frequency));
    EXPECT_GE(countOf(later, expected), later.size() * 9 / 10)
        << "expected " << hex(expected) << ", the line carried " << hex(bytes);
    double nominal = 4000.0 / test.tone.delayMs;
    EXPECT_GT((double)frames.size(), nominal * 0.7);
    EXPECT_LT((double)frames.size(), nominal * 1.15);
}

INSTANTIATE_TEST_SUITE_P(EveryModeAtBothRates, LinuxListenerTone, ::testing::ValuesIn(toneCases()),
                         [](const ::testing::TestParamInfo<ToneCase>& info) {
                             return std::string(harness::soundServerName(info.param.kind)) +
                                    info.param.tone.mode + "At" + std::to_string(info.param.rate);
                         });

// A monitor delivers zeros while nothing plays: the cube is dark, and the dark frame keeps
// coming at the mode's pace.
TEST_P(LinuxListenerTest, WhenTheMusicStopsTheCubeGoesDarkAtThePace) {
    serve().play("speakers", tone(kToneAmplitude, kToneFrequency));
    Pty& pty = plugIn();
    auto listener = listen();
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    server_->stopPlaying();
    ASSERT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    size_t from = framesOn(pty).size();
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(moreFrames(pty, 40)); // Levels: two seconds' worth
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<Bytes> quiet = framesOn(pty);
    quiet.erase(quiet.begin(), quiet.begin() + (long)from);
    EXPECT_EQ(quiet.size(), countOf(quiet, kDark)) << lineEnd(pty);
    EXPECT_GT(took, 40 * 0.05 * 0.7) << "40 frames came in " << took << " s";
    EXPECT_EQ(0, listener->stop(SIGTERM));
    EXPECT_EQ("", wholeRunProblem(pty.settledBytes()));
}

TEST_P(LinuxListenerTest, TheDefaultOutputIsFollowedWhenItChangesAndWhenItGoes) {
    serve();
    int headphones = server_->loadSink("headphones", 48000, "Headphones");
    server_->play("speakers", tone(kOtherAmplitude, kOtherFrequency));
    server_->play("headphones", tone(kToneAmplitude, kToneFrequency, 48000));
    Pty& pty = plugIn();
    auto listener = listen();
    ASSERT_TRUE(listener->waitForLine("Listening to what this machine plays (Speakers)"));
    ASSERT_TRUE(lastFrameBecomes(pty, kOther)) << lineEnd(pty);

    // At once on the server's news, and within 1.5 s by looking should the news be missed.
    server_->setDefaultSink("headphones");
    ASSERT_TRUE(listener->waitForLine("Listening to what this machine plays (Headphones)"));
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    size_t from = framesOn(pty).size();
    ASSERT_TRUE(moreFrames(pty, 20));
    std::vector<Bytes> after = framesOn(pty);
    after.erase(after.begin(), after.begin() + (long)from);
    EXPECT_EQ(after.size(), countOf(after, kTone)) << lineEnd(pty);

    // Headphones unplugged: the server's new default is heard, with nothing said in between.
    // (The server would move the headphones' player to the speakers too: it goes first.)
    server_->stopPlaying();
    server_->unloadModule(headphones);
    server_->play("speakers", tone(kOtherAmplitude, kOtherFrequency));
    EXPECT_TRUE(harness::waitUntil([&] { return listener->count("(Speakers)") == 2; }))
        << listener->output();
    EXPECT_TRUE(lastFrameBecomes(pty, kOther)) << lineEnd(pty);
    EXPECT_EQ(3u, listener->count("Listening to")) << listener->output();
    EXPECT_EQ(0u, listener->count("no sound output")) << listener->output();
}

// Without PA_STREAM_DONT_MOVE the server would move the recorder of a monitor whose sink goes to
// the default source (a microphone on a real machine; here another sink's monitor with a tone
// of its own), and that tone would light the cube.
TEST_P(LinuxListenerTest, ARecordingDeviceThatGoesIsToldOnceNeverReplacedAndHeardWhenBack) {
    serve({{"microphone", 44100, "Microphone"}});
    int speakers = server_->loadSink("speakers", 44100, "Speakers");
    server_->setDefaultSource("microphone.monitor");
    server_->play("microphone", tone(kOtherAmplitude, kOtherFrequency));
    server_->play("speakers", tone(kToneAmplitude, kToneFrequency));
    Pty& pty = plugIn();
    auto listener = listen({"--device", "Monitor of Speakers"});
    ASSERT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);

    server_->unloadModule(speakers);
    EXPECT_TRUE(listener->waitForLine(
        "The sound device Monitor of Speakers went away; the cube stays dark until it is back"));
    EXPECT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    ASSERT_TRUE(moreFrames(pty, 40)); // two seconds of retries
    server_->loadSink("speakers", 44100, "Speakers");
    server_->play("speakers", tone(kToneAmplitude, kToneFrequency));
    EXPECT_TRUE(harness::waitUntil([&] {
        return listener->count("Listening to Monitor of Speakers") == 2;
    })) << listener->output();
    EXPECT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
    EXPECT_EQ(0u, countOf(framesOn(pty), kOther)) << "the microphone's tone reached the cube";
    EXPECT_EQ(1u, listener->count("went away")) << listener->output();
    EXPECT_EQ(0u, listener->count("is not there")) << listener->output();
}

TEST_P(LinuxListenerTest, ASoundServerThatComesLateOrGoesIsToldOnceAndHeardWhenThere) {
    serve({{"speakers", 44100, "Speakers"}}, SoundServer::kStartLater);
    Pty& pty = plugIn();
    auto listener = listen();
    ASSERT_TRUE(listener->waitForLine(
        "The sound server is not there yet; the cube stays dark until it is"));
    ASSERT_TRUE(moreFrames(pty, 20)); // dark, at the pace, while it waits
    for (size_t run = 1; run <= 2; ++run) {
        server_->start();
        server_->play("speakers", tone(kToneAmplitude, kToneFrequency));
        EXPECT_TRUE(harness::waitUntil([&] {
            return listener->count("Listening to what this machine plays (Speakers)") == run;
        })) << listener->output();
        EXPECT_TRUE(lastFrameBecomes(pty, kTone)) << lineEnd(pty);
        server_->stopPlaying();
        server_->stop();
        EXPECT_TRUE(listener->waitForLine(
            "The sound server went away; the cube stays dark until it is back"));
        EXPECT_TRUE(lastFrameBecomes(pty, kDark)) << lineEnd(pty);
    }
    EXPECT_EQ(1u, listener->count("not there yet")) << listener->output();
    EXPECT_EQ(2u, listener->count("went away")) << listener->output();
}

// Every question to the server has its time limit: a server that hangs is told, and the
// listener still stops at once with the stop byte.
TEST_P(LinuxListenerTest, AServerThatHangsIsToldAndStoppingStillEndsWithTheStopByte) {
    serve();
    Pty& pty = plugIn();
    auto listener = listen();
    ASSERT_TRUE(listener->waitForLine("Listening to what this machine plays (Speakers)"));
    server_->freeze();
    EXPECT_TRUE(listener->waitForLine(
        "The sound server does not answer; the cube stays dark until it does"));
    EXPECT_EQ(0, listener->stop(SIGTERM));
    server_->thaw();
    EXPECT_EQ("", wholeRunProblem(pty.settledBytes()));
}

TEST_P(LinuxListenerTest, APortMissingThenPluggedPulledAndPluggedAgainLightsWithTheStartByte) {
    serve();
    auto listener = listen();
    const std::string missing = "Cannot open " + port() + ": there is no such port";
    const std::string lit = "The cube on " + port() + " is lit";
    ASSERT_TRUE(listener->waitForLine(missing));
    for (size_t plugged = 1; plugged <= 2; ++plugged) {
        Pty& pty = plugIn();
        EXPECT_TRUE(harness::waitUntil([&] { return listener->count(lit) == plugged; }))
            << listener->output();
        ASSERT_TRUE(moreFrames(pty, 5));
        EXPECT_EQ(kCubeStartByte, pty.bytes().front()) << lineEnd(pty);
        if (plugged == 2)
            break;
        // Pulled out: the line ends, and the device with it.
        pty.closeMaster();
        pty.closeSlave();
        EXPECT_TRUE(harness::waitUntil([&] { return listener->count(missing) == 2; }))
            << listener->output();
    }
    EXPECT_EQ(0, listener->stop(SIGTERM));
    EXPECT_EQ("", wholeRunProblem(cube_->settledBytes()));
}

TEST_P(LinuxListenerTest, SigtermAndSigintEndWithTheStopByteAndExitCodeZero) {
    serve();
    for (int signal : {SIGTERM, SIGINT}) {
        Pty& pty = plugIn();
        auto listener = listen();
        ASSERT_TRUE(listener->waitForLine("The cube on " + port() + " is lit"));
        ASSERT_TRUE(moreFrames(pty, 5));
        EXPECT_EQ(0, listener->stop(signal)) << strsignal(signal);
        EXPECT_EQ("", wholeRunProblem(pty.settledBytes())) << strsignal(signal);
        EXPECT_EQ(1u, listener->count("Stopped; the cube on " + port() + " is let go"));
    }
}

TEST_P(LinuxListenerTest, SighupReadsTheModeFromTheSettingsAgain) {
    serve().play("speakers", tone(0.5, 1200));
    Pty& pty = plugIn();
    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=Star\n");
    auto listener = listen();
    const int level = toneLevel(0.5, 1200);
    ASSERT_TRUE(lastFrameBecomes(pty, frameFor(kPatternStar, level))) << lineEnd(pty);
    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=NewStar\n");
    listener->signal(SIGHUP);
    ASSERT_TRUE(listener->waitForLine("Showing NewStar"));
    EXPECT_TRUE(lastFrameBecomes(pty, frameFor(kPatternNewStar, level))) << lineEnd(pty);
    EXPECT_EQ(0, listener->stop(SIGTERM));
    EXPECT_EQ("", wholeRunProblem(pty.settledBytes())); // the port was kept throughout
}

TEST_P(LinuxListenerTest, ASecondCopyExitsZeroAndLeavesEveryPortAlone) {
    serve();
    Pty& first = plugIn();
    Pty other;
    other.linkAt(folder_.file("other"));
    auto running = listen();
    ASSERT_TRUE(running->waitForLine("The cube on " + port() + " is lit"));
    LinuxListener again(folder_, {"--port", folder_.file("other"), "--seconds", "2"},
                        server_->environment());
    EXPECT_EQ(0, again.finish());
    EXPECT_EQ(1u, again.count("Lumo Listen is already running")) << again.output();
    EXPECT_TRUE(other.settledBytes().empty()) << hex(other.bytes());
    EXPECT_TRUE(moreFrames(first, 5)); // the first goes on
}

// The machine's file is /etc/lumo/lumolisten.ini itself: each run sees the test's own file
// there, in a mount namespace of its own, and the machine's /etc is never written. A real
// /dev/ttyUSB0, the default port, is /dev/null to it, so no device of the machine is touched.
TEST_P(LinuxListenerTest, SettingsComeFromTheUsersFileThenTheMachinesThenTheDefaults) {
    harness::TempDir machine;
    std::filesystem::create_directories(machine.file("lumo"));
    const std::vector<std::string> mounts = {
        "mount -t overlay overlay -o lowerdir=" + machine.path() + ":/etc /etc",
        "{ [ ! -e /dev/ttyUSB0 ] || mount --bind /dev/null /dev/ttyUSB0; }"};
    auto firstLine = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--seconds", "0.5"});
        LinuxListener listener(folder_, args, {}, mounts);
        EXPECT_EQ(0, listener.finish()) << listener.output();
        std::string output = listener.output();
        return output.substr(0, output.find('\n'));
    };
    plugIn();
    const std::string seven = folder_.file("seven"),
                      listening = ", listening to what this machine plays";
    Pty sevenPty;
    sevenPty.linkAt(seven);

    harness::writeFile(machine.file("lumo/lumolisten.ini"), "");
    EXPECT_EQ("Lumo Listen: Levels on /dev/ttyUSB0" + listening, firstLine({}));
    // Where a package or an administrator puts the port for everyone.
    harness::writeFile(machine.file("lumo/lumolisten.ini"),
                       "[lumolisten]\nPort=" + seven + "\nMode=Star\n");
    EXPECT_EQ("Lumo Listen: Star on " + seven + listening, firstLine({}));
    // The user's own choice wins, key by key; a choice on the command line is not saved.
    harness::writeFile(folder_.settingsPath(), "[lumolisten]\nMode=NewStar\n");
    EXPECT_EQ("Lumo Listen: NewStar on " + seven + listening, firstLine({}));
    EXPECT_EQ("Lumo Listen: Levels on " + port() + listening,
              firstLine({"--mode", "Levels", "--port", port()}));
    EXPECT_EQ("[lumolisten]\nMode=NewStar\n", harness::readFile(folder_.settingsPath()));
}

TEST_P(LinuxListenerTest, ABadCommandLineIsOneClearLineAndExitCodeTwoAndNothingIsSent) {
    serve();
    Pty& pty = plugIn();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--colour", "red"}, "lumolisten: unknown option --colour"},
        {{"--mode", "Disco"},
         "lumolisten: --mode takes Star, Levels, NewStar, Spectrum or Pulse, not Disco"},
        {{"--port", "ttyUSB0"},
         "lumolisten: --port takes a serial device's path, such as /dev/ttyUSB0, not ttyUSB0"},
        {{"--seconds", "soon"},
         "lumolisten: --seconds takes a number of seconds greater than 0, not soon"},
        // The devices there are, by the descriptions people see.
        {{"--device", "Stereo Mix"},
         "lumolisten: there is no recording device named \"Stereo "
         "Mix\"; there are: \"Monitor of Speakers\""},
    };
    for (const auto& [args, said] : cases) {
        auto listener = listen(args);
        EXPECT_EQ(2, listener->finish()) << listener->output();
        std::string output = listener->output();
        EXPECT_EQ(0u, output.find(said)) << output;
        EXPECT_EQ(1, std::count(output.begin(), output.end(), '\n')) << output;
    }
    EXPECT_TRUE(pty.settledBytes().empty()) << hex(pty.bytes());
}

// A machine whose only terminals are pseudo-terminals: the run sees an empty /sys/class/tty,
// which is where the serial ports are looked for.
TEST_P(LinuxListenerTest, ListSaysPlainlyThatThereAreNoSerialPortsAndListsTheMonitors) {
    serve({{"speakers", 44100, "Speakers"}, {"headphones", 48000, "Headphones"}});
    LinuxListener listener(folder_, {"--list"}, server_->environment(),
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
