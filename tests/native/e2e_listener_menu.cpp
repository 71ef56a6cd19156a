// The listener's tray menu as a user works it (tray_menu.exe types the items' underlined
// letters into the open menu): a choice takes effect at once and is saved for the user, the
// whole cube lights for two seconds, logon start comes and goes, Quit lets the port go.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "fake_audio.h"
#include "listener_session.h"
#include "sound_server.h"
#include "udp_sender.h"

namespace {

using namespace listenertest;
using cubebytes::frameBytes;
using cubebytes::frameFor;
using harness::Pty;

const char kRunKey[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void choose(const ListenerFolder& folder, const std::string& letters) {
    harness::Finished chosen = harness::runWindowsProgram(harness::build().bin + "/tray_menu.exe",
                                                          {letters}, folder.path());
    EXPECT_EQ(0, chosen.exitCode) << chosen.output;
}

// Frames that arrived in the next `span`.
std::vector<Bytes> framesDuring(Pty& pty, milliseconds span) {
    size_t from = readCubeLine(pty.bytes()).frames.size();
    std::this_thread::sleep_for(span);
    std::vector<Bytes> frames = readCubeLine(pty.bytes()).frames;
    return std::vector<Bytes>(frames.begin() + (long)from, frames.end());
}

struct MenuMode {
    const char* letter;
    const char* mode;
    int delayMs;
};

// Each mode by its underlined letter, the player's and the music's, at its own pace: dark while
// nothing plays, whatever the mode.
static const MenuMode kMenuModes[] = {
    {"s", "Star", 15},     // the player's modes
    {"e", "Spectrum", 25}, // the music's, past the separator
    {"u", "Pulse", 25},
};

TEST(ListenerMenu, AChoiceTakesEffectAtOnceAndIsSavedForTheUser) {
    harness::restoreSystemAudio();
    harness::SoundServer server;
    Pty pty, one;
    pty.linkAsCom(5);
    one.linkAsCom(1);
    ListenerFolder folder;
    {
        Listener listener(folder, {"--port", "5", "--device", "Monitor of Speakers"},
                          server.environment());
        ASSERT_TRUE(listener.waitForLine("The cube on COM5 is lit"));
        EXPECT_EQ("", userSettingsText()); // the command line is not saved

        for (const MenuMode& test : kMenuModes) {
            choose(folder, test.letter);
            ASSERT_TRUE(listener.waitForLine(std::string("Showing ") + test.mode));
            EXPECT_NE(std::string::npos, userSettingsText().find(std::string("Mode=") + test.mode))
                << userSettingsText();
            std::vector<Bytes> frames = framesDuring(pty, milliseconds(1000));
            EXPECT_GT(frames.size(), 750u / test.delayMs) << test.mode;
            EXPECT_LT(frames.size(), 1200u / test.delayMs) << test.mode;
            EXPECT_EQ(frames.size(), countOf(frames, frameBytes(kPatternStar, 0))) << test.mode;
        }
        choose(folder, "s");
        ASSERT_TRUE(listener.waitForLine("Showing Star"));
        choose(folder, "q");
        EXPECT_EQ(0, listener.finish());
        EXPECT_TRUE(readCubeLine(pty.settledBytes()).stopLast) << cubebytes::hex(pty.bytes());
    }
    // The next start, without a command line, is the user's Star, on the default port.
    Listener again(folder, {"--seconds", "0.5"}, server.environment());
    again.finish();
    EXPECT_EQ(0u, again.output().find("Lumo Listen: Star on COM1")) << again.output();
}

// Windows lists the ports it has under SERIALCOMM; Wine lists only the ones it found at its start,
// so the test's ports are entered there for as long as the test runs.
class ListedPorts {
  public:
    ListedPorts(const ListenerFolder& folder, const std::vector<int>& numbers)
        : folder_(folder.path()), numbers_(numbers) {
        for (int number : numbers_)
            reg({"add", kKey, "/v", value(number), "/d", "COM" + std::to_string(number), "/f"});
    }
    ~ListedPorts() {
        for (int number : numbers_)
            reg({"delete", kKey, "/v", value(number), "/f"});
    }

  private:
    static constexpr const char* kKey = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
    static std::string value(int number) { return "\\Device\\lumotest" + std::to_string(number); }
    void reg(const std::vector<std::string>& args) {
        harness::Finished done = harness::runWindowsProgram("reg", args, folder_);
        EXPECT_EQ(0, done.exitCode) << done.output;
    }
    std::string folder_;
    std::vector<int> numbers_;
};

// The Port submenu lists the ports as --list does, in the same order; its items have no letters,
// so a user reaches one with the arrow keys.
TEST(ListenerMenu, APortChosenFromThePortMenuStopsTheOldCubeLightsTheNewOneAndIsSaved) {
    harness::restoreSystemAudio();
    harness::SoundServer server;
    Pty oldCube, newCube;
    oldCube.linkAsCom(5);
    newCube.linkAsCom(6);
    ListenerFolder folder;
    ListedPorts listedPorts(folder, {5, 6});
    Listener listed(folder, {"--list"}, server.environment());
    EXPECT_EQ(0, listed.finish());
    std::vector<std::string> ports;
    std::istringstream lines(listed.output());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("port: ", 0) == 0)
            ports.push_back(line.substr(6, line.find(" - ") == std::string::npos
                                               ? std::string::npos
                                               : line.find(" - ") - 6));
    auto at = std::find(ports.begin(), ports.end(), "COM6");
    ASSERT_NE(ports.end(), at) << listed.output();

    Listener listener(folder, {"--port", "5", "--device", "Monitor of Speakers"},
                      server.environment());
    ASSERT_TRUE(listener.waitForLine("The cube on COM5 is lit"));
    ASSERT_TRUE(oldCube.waitForBytes(1 + 3 * kCubeFrameSize));
    choose(folder, "p" + std::string((size_t)(at - ports.begin()), 'v') + "!");
    ASSERT_TRUE(listener.waitForLine("The cube on COM6 is lit"));
    ASSERT_TRUE(newCube.waitForBytes(1 + 3 * kCubeFrameSize));
    EXPECT_NE(std::string::npos, userSettingsText().find("Port=6")) << userSettingsText();

    // The old cube was told to stop before its port was let go, and hears nothing more.
    CubeLine old = readCubeLine(oldCube.settledBytes());
    EXPECT_TRUE(old.startFirst && old.stopLast && old.strays == 0)
        << cubebytes::hex(oldCube.bytes());
    CubeLine fresh = readCubeLine(newCube.bytes());
    EXPECT_TRUE(fresh.startFirst && fresh.strays == 0) << cubebytes::hex(newCube.bytes());
    EXPECT_EQ(0, listener.quit());
    EXPECT_TRUE(readCubeLine(newCube.settledBytes()).stopLast) << cubebytes::hex(newCube.bytes());
}

TEST(ListenerMenu, LightTheCubeLightsEveryLedForTwoSecondsThenTheMusicAgain) {
    harness::restoreSystemAudio();
    harness::SoundServer server;
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    Listener listener(folder, {"--port", "5", "--device", "Monitor of Speakers"},
                      server.environment());
    ASSERT_TRUE(listener.waitForLine("The cube on COM5 is lit"));
    choose(folder, "c");
    ASSERT_TRUE(listener.waitForLine("The whole cube on COM5 should be lit now, for two seconds"));
    std::vector<Bytes> frames = framesDuring(pty, milliseconds(4000));
    Bytes whole = frameFor(kPatternLevels, 127);
    Bytes dark = frameBytes(kPatternLevels, 0);
    // Levels sends 20 frames a second: some 40 of the whole cube, then the silence again.
    size_t lit = countOf(frames, whole);
    EXPECT_GE(lit, 30u) << cubebytes::hex(pty.bytes());
    EXPECT_LE(lit, 50u) << cubebytes::hex(pty.bytes());
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(dark, frames.back());
}

TEST(ListenerMenu, LetOtherProgramsLightTheCubeOpensThePortsOnlyWhileTickedAndIsSaved) {
    harness::restoreSystemAudio();
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    Listener listener(folder, {"--port", "5"});
    ASSERT_TRUE(listener.waitForLine("The cube on COM5 is lit"));
    EXPECT_TRUE(harness::udpPortIsFree(5568) && harness::udpPortIsFree(4048));
    choose(folder, "o");
    ASSERT_TRUE(
        listener.waitForLine("Other programs may light the cube over E1.31 (universe 1) and DDP"));
    EXPECT_NE(std::string::npos, userSettingsText().find("Network=on")) << userSettingsText();
    EXPECT_TRUE(harness::waitUntil([] { return !harness::udpPortIsFree(5568); }))
        << "nothing listens on port 5568";
    choose(folder, "o");
    ASSERT_TRUE(listener.waitForLine("Other programs no longer light the cube"));
    EXPECT_NE(std::string::npos, userSettingsText().find("Network=off")) << userSettingsText();
    EXPECT_TRUE(harness::waitUntil([] {
        return harness::udpPortIsFree(5568) && harness::udpPortIsFree(4048);
    })) << "a socket outlived the choice";
}

TEST(ListenerMenu, StartWithWindowsIsThisUsersLogonAndComesOffAgain) {
    harness::restoreSystemAudio();
    Pty pty;
    pty.linkAsCom(5);
    ListenerFolder folder;
    Listener listener(folder, {"--port", "5"});
    ASSERT_TRUE(listener.waitForLine("The cube on COM5 is lit"));
    auto runValue = [&] {
        return harness::runWindowsProgram("reg", {"query", kRunKey, "/v", "Lumo Listen"},
                                          folder.path())
            .output;
    };
    choose(folder, "w");
    ASSERT_TRUE(listener.waitForLine("Lumo Listen starts when you log on to Windows"));
    EXPECT_NE(std::string::npos,
              runValue().find("\"" + harness::windowsPath(folder.file("lumolisten.exe")) + "\""))
        << runValue();
    choose(folder, "w");
    ASSERT_TRUE(listener.waitForLine("no longer starts when you log on"));
    EXPECT_EQ(std::string::npos, runValue().find("lumolisten.exe")) << runValue();
}

} // namespace
