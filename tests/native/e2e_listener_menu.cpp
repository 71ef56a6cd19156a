// The listener's tray menu as a user works it (tray_menu.exe types the items' underlined
// letters into the open menu): a choice takes effect at once and is saved for the user, the
// whole cube lights for two seconds, logon start comes and goes, Quit lets the port go.
#include <gtest/gtest.h>

#include <filesystem>

#include "fake_audio.h"
#include "listener_session.h"
#include "sound_server.h"

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

        choose(folder, "s");
        ASSERT_TRUE(listener.waitForLine("Showing Star"));
        EXPECT_NE(std::string::npos, userSettingsText().find("Mode=Star")) << userSettingsText();
        // Star's frame every 15 ms from now on, dark while nothing plays.
        std::vector<Bytes> star = framesDuring(pty, milliseconds(1000));
        EXPECT_GT(star.size(), 45u);
        EXPECT_EQ(star.size(), countOf(star, frameBytes(kPatternStar, 0)));

        choose(folder, "q");
        EXPECT_EQ(0, listener.finish());
        EXPECT_TRUE(readCubeLine(pty.settledBytes()).stopLast) << cubebytes::hex(pty.bytes());
    }
    // The next start, without a command line, is the user's Star, on the default port.
    Listener again(folder, {"--seconds", "0.5"}, server.environment());
    again.finish();
    EXPECT_EQ(0u, again.output().find("Lumo Listen: Star on COM1")) << again.output();
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
