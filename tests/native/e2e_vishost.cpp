// The stand-in host vishost.exe end to end under Wine: its command line (audio in, report out,
// exit codes), its scripted mode against the small fakevis.dll, and a whole run of the real
// lumo.dll with the cube's line read back off a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "frames.h"
#include "harness.h"
#include "wav_builder.h"

using namespace harness;
using wavtest::Bytes;

namespace {

// Runs vishost.exe from `dir` to its end (a minute at most: a box nobody answers would hang).
Finished runVishost(const std::string& dir, const std::vector<std::string>& args) {
    return runWindowsProgram(dir + "/vishost.exe", args, dir);
}

// A folder holding vishost.exe and the named DLLs of the build under test, as a user installs
// them (the shipped ones as shipped, the test plugin from the build).
void install(const TempDir& dir, const std::vector<std::string>& files) {
    copyFile(build().bin + "/vishost.exe", dir.file("vishost.exe"));
    for (const std::string& file : files)
        copyFile(file == "fakevis.dll" ? build().bin + "/" + file : build().shipped(file),
                 dir.file(file));
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

int renderCalls(const std::string& report) {
    std::smatch match;
    if (!std::regex_search(report, match, std::regex("render calls: (\\d+)")))
        return -1;
    return std::stoi(match[1]);
}

TEST(VishostCommandLine, BadAudioEndsTheRunWithItsReason) {
    TempDir dir;
    install(dir, {"fakevis.dll"});
    Bytes pcm = wavtest::pcmWav(1, 8000, 16, wavtest::samples16({1, 2, 3}));
    Bytes truncated(pcm.begin(), pcm.end() - 2);
    Bytes deep = wavtest::riff({wavtest::chunk("fmt ", wavtest::formatBody(1, 2, 44100, 24)),
                                wavtest::chunk("data", Bytes(6, 0))});
    const struct {
        const char* file;
        Bytes content;
        const char* message;
    } cases[] = {
        {"text.wav", Bytes{'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '!', '!', '!'},
         "vishost: text.wav: not a RIFF/WAVE file"},
        {"deep.wav", deep, "vishost: deep.wav: 24-bit samples are not supported"},
        {"short.wav", truncated, "vishost: short.wav: truncated: chunk 'data' needs 6 bytes"},
        {"missing.wav", Bytes(), "vishost: missing.wav: cannot open the file"},
    };
    for (const auto& c : cases) {
        if (!c.content.empty())
            writeBytes(dir.path() + "/" + c.file, c.content);
        Finished run = runVishost(dir.path(), {"--auto-ok", "--wav", c.file, "fakevis.dll"});
        EXPECT_EQ(run.exitCode, 2) << c.file << ":\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("render calls"), std::string::npos) << "it played anyway";
    }
}

TEST(VishostCommandLine, AFilePlaysOneRenderCallPerDelayUntilItEnds) {
    TempDir dir;
    install(dir, {"fakevis.dll"});
    // Half a second of 8-bit stereo silence at 8000 Hz: module 1 of fakevis has a 40 ms delay,
    // so blocks start at 0, 320, ... 3840: 13 calls. --seconds 0.25 stops before 2000: 7 calls.
    writeBytes(dir.path() + "/quiet.wav", wavtest::pcmWav(2, 8000, 8, Bytes(8000, 128)));
    Finished whole =
        runVishost(dir.path(), {"--module", "1", "--auto-ok", "--wav", "quiet.wav", "fakevis.dll"});
    EXPECT_EQ(whole.exitCode, 0) << whole.output;
    EXPECT_EQ(renderCalls(whole.output), 13) << whole.output;
    EXPECT_NE(whole.output.find("requests: 505 x1 611 x1"), std::string::npos) << whole.output;
    EXPECT_NE(whole.output.find("message boxes: 1\n"), std::string::npos) << whole.output;
    EXPECT_NE(whole.output.find("caption=\"Fake\" text=\"Ready\\nto \\\"go\\\"\" type=0"),
              std::string::npos)
        << whole.output;

    Finished part = runVishost(dir.path(), {"--module", "1", "--auto-ok", "--seconds", "0.25",
                                            "--wav", "quiet.wav", "fakevis.dll"});
    EXPECT_EQ(renderCalls(part.output), 7) << part.output;
}

TEST(VishostCommandLine, AFailedInitEndsTheRunWithExitCodeOne) {
    TempDir dir;
    install(dir, {"lumo.dll"}); // no lumolink.dll anywhere the plugin looks
    Finished run = runVishost(dir.path(), {"--auto-ok", "--seconds", "1", "lumo.dll"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("init: 1"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("caption=\"Error\" text=\"Cannot load lumolink.dll\""),
              std::string::npos)
        << run.output;
    EXPECT_EQ(renderCalls(run.output), 0) << "rendered after a failed init";
}

// A host that configures first and renders and quits whatever Init said, into its own window:
// the about box, then the error, then render calls that the plugin ignores, and the exit code
// still says that init failed.
TEST(VishostCommandLine, AHostKindThatIgnoresInitsResultRendersOnAndStillExitsWithOne) {
    TempDir dir;
    install(dir, {"lumo.dll"});
    Finished run = runVishost(dir.path(), {"--embed-in-host-window", "--config-before-init",
                                           "--ignore-init-result", "--auto-ok", "--seconds", "0.5",
                                           "lumo.dll"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(std::regex_search(run.output,
                                  std::regex("message boxes: 2\n"
                                             "  box owner=parent caption=\"Configuration\"[^\n]*\n"
                                             "  frame 50 50 338 306 title=\"vishost\"\n"
                                             "  box owner=parent caption=\"Error\" "
                                             "text=\"Cannot load lumolink.dll\"")))
        << run.output;
    EXPECT_GT(renderCalls(run.output), 0) << "no render after the failed init";
    EXPECT_NE(run.output.find("requests: 505 x1\n"), std::string::npos)
        << "a quit after the failed start told the host something: " << run.output;
}

// The real plugin through the host: the cube's line carries the start byte, one frame of the
// module's pattern per render call, and the stop byte, whichever module plays.
TEST(VishostWithLumo, TheCubeGetsStartByteOneFramePerRenderAndStopByte) {
    for (int module = 0; module < 3; ++module) {
        SCOPED_TRACE("module " + std::to_string(module));
        TempDir dir;
        install(dir, {"lumo.dll", "lumolink.dll"});
        Pty pty;
        pty.linkAsCom(1);
        Finished run = runVishost(dir.path(), {"--module", std::to_string(module), "--seconds", "2",
                                               "--auto-ok", "lumo.dll"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const int calls = renderCalls(run.output);
        ASSERT_GT(calls, 20) << run.output;
        ASSERT_TRUE(pty.waitForBytes(2 + (size_t)calls * kCubeFrameSize))
            << pty.bytes().size() << " bytes on the line: " << hex(pty.bytes()) << "\n"
            << run.output;
        const Bytes line = pty.bytes();
        ASSERT_EQ(line.size(), 2 + (size_t)calls * kCubeFrameSize) << hex(line);
        EXPECT_EQ(line.front(), kCubeStartByte) << hex(line);
        EXPECT_EQ(line.back(), kCubeStopByte) << hex(line);

        const CubePattern pattern = (CubePattern)module;
        std::set<int> shown;
        for (int call = 0; call < calls; ++call) {
            const Bytes frame(line.begin() + 1 + call * kCubeFrameSize,
                              line.begin() + 1 + (call + 1) * kCubeFrameSize);
            int index = -1;
            for (int i = 0; i < patternFrameCount(pattern) && index < 0; ++i)
                if (cubebytes::frameBytes(pattern, i) == frame)
                    index = i;
            ASSERT_GE(index, 0) << "call " << call << " sent no frame of " << patternName(pattern)
                                << ": " << hex(frame);
            shown.insert(index);
        }
        // The test signal rises from silence: the cube must not sit on one frame.
        EXPECT_GE(shown.size(), 3u) << "frames shown: " << shown.size();
        EXPECT_NE(run.output.find("text=\"Make sure the Lumo is Connected to COM1\""),
                  std::string::npos)
            << run.output;
    }
}

// The host's side of the protocol, checked against fakevis.dll, whose behaviour is fixed.
class VishostScript : public ::testing::Test {
  protected:
    VishostScript()
        : host_(build().bin + "/vishost.exe",
                {"--script", windowsPath(build().bin + "/fakevis.dll")}) {}

    WineProgram::Reply ok(const std::string& line) {
        WineProgram::Reply reply = host_.call(line);
        EXPECT_TRUE(reply.ok) << line << ": " << reply.value;
        return reply;
    }

    WineProgram host_;
};

TEST_F(VishostScript, InitReportsTheEmbeddingTheFrameAndTheBoxInOrder) {
    WineProgram::Reply init = ok("init 0");
    EXPECT_EQ(init.value, "0");
    EXPECT_EQ(init.events,
              (std::vector<std::string>{
                  "request 505 0 result=1", "frame 60 70 260 170 title=\"Fake\"",
                  "box owner=parent caption=\"Fake\" text=\"Ready\\nto \\\"go\\\"\" type=0"}));
    EXPECT_EQ(ok("frame").value, "1 60 70 260 170 title=\"Fake\"")
        << "the frame sits where the plugin asked";
    ok("quit");
    EXPECT_EQ(ok("frame").value, "0");
}

TEST_F(VishostScript, AHostThatCannotEmbedAnswersZero) {
    ok("embed 0");
    WineProgram::Reply init = ok("init 0");
    EXPECT_EQ(init.value, "1");
    ASSERT_EQ(init.events.size(), 2u);
    EXPECT_EQ(init.events[0], "request 505 0 result=0");
    EXPECT_EQ(ok("frame").value, "0");
    EXPECT_FALSE(host_.call("render").ok) << "rendered a module whose init failed";
}

TEST_F(VishostScript, RequestsKeysAndTheVideoAnswerPassThrough) {
    ok("init 0");
    EXPECT_EQ(ok("command 1 0").events, std::vector<std::string>{"request 631 7 result=0"});
    ok("video 2");
    EXPECT_EQ(
        ok("command 2 0").events,
        (std::vector<std::string>{"request 501 0 result=2",
                                  "box owner=parent caption=\"Video\" text=\"video 2\" type=0"}));
    for (const char* direction : {"down", "up"}) {
        WineProgram::Reply key = ok(std::string("key ") + direction + " 65");
        const std::string sentLParam = key.value.substr(key.value.find(' ') + 1);
        const std::string message = direction == std::string("down") ? "256" : "257";
        EXPECT_EQ(key.events, std::vector<std::string>{"key " + message + " 65 " + sentLParam})
            << "the forwarded key must keep its parameters";
    }
    WineProgram::Reply quit = ok("quit");
    EXPECT_EQ(quit.events, (std::vector<std::string>{"request 611 0 result=0", "quitmessage 3"}));
}

TEST_F(VishostScript, MessageBoxTypesAreReadFromTheBoxAndEveryBoxIsAnswered) {
    // fakevis's Config shows these types in turn; the one without OK is answered too.
    static const unsigned types[] = {0x00, 0x31, 0x24, 0x10};
    for (unsigned type : types) {
        WineProgram::Reply config = ok("config 0");
        ASSERT_EQ(config.events.size(), 1u);
        EXPECT_EQ(config.events[0], "box owner=parent caption=\"Config\" text=\"type " +
                                        std::to_string(type) + "\" type=" + std::to_string(type));
    }
}

TEST_F(VishostScript, TheFrameTellsItsChildOfMovesAndFillsItWhenSized) {
    ok("init 0");
    ok("move 300 200");
    EXPECT_EQ(ok("command 3 0").value, std::to_string(300 * 10000 + 200))
        << "the plugin's window did not hear of the frame's move";
    EXPECT_EQ(ok("clientsize").value, "200 100") << "a move must not resize the child";
    ok("resize 320 240");
    EXPECT_EQ(ok("clientsize").value, "320 240");

    ok("wave 0 const 0");
    ok("render");
    EXPECT_EQ(ok("pixels 318 0 320 2").value, "## ##");
    ok("wave 0 const 9");
    ok("render");
    EXPECT_EQ(ok("pixels 0 238 2 240").value, ".. ..");
}

TEST_F(VishostScript, ModuleRecordsAreReportedAsTheyAre) {
    EXPECT_EQ(ok("header").value, "version=0x101 desc=\"Fake plugin\" same=1");
    EXPECT_EQ(ok("module 1").value, "desc=\"Other\" latency=30 delay=40 spectrum=0 waveform=2 "
                                    "config=1 init=1 quit=1 render=1 same=1");
    EXPECT_EQ(ok("module 2").value, "null");
    EXPECT_FALSE(host_.call("wave 2 const 0").ok);
    EXPECT_FALSE(host_.call("nonsense").ok);
    ok("exit");
    EXPECT_EQ(host_.finish(), 0);
}

} // namespace
