// Windows' audio as a test wants it, for a program that captures sound through WASAPI: while a
// FakeAudio lives, fakeaudio.dll (tests/win/fakeaudio/) is the prefix's MMDeviceEnumerator class,
// so every Windows program run there meets the devices, defaults, signals and failures the
// control text describes, including what Wine cannot show (loopback capture, an output that sends
// no packets while nothing plays, a device pulled, exclusive mode, 24-bit and 5.1 formats, a port
// another program holds). The grammar of the control text is in tests/win/fakeaudio/fake_audio.h.
//
//   FakeAudio audio(dir.path(), "device speakers render \"Speakers\" format=int24 channels=6\n"
//                               "signal speakers tone 0.5 1000\n");
//   ... run the program in dir.path() ...
//   audio.setControl("device speakers render \"Speakers\" state=unplugged\n");
//   EXPECT_TRUE(audio.waitForLog("Notify state speakers unplugged"));
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace harness {

class FakeAudio {
  public:
    // Copies the build's fakeaudio.dll into `folder` (where the program under test runs, a
    // TempDir's path), writes the control text there and registers the copy in winePrefix().
    FakeAudio(const std::string& folder, const std::string& control);
    // Gives the class back to Wine's own mmdevapi.dll. A program still running keeps the fake it
    // has loaded.
    ~FakeAudio();
    FakeAudio(const FakeAudio&) = delete;
    FakeAudio& operator=(const FakeAudio&) = delete;

    // Replaces the control text at once (a program never reads half of it). Each running program
    // puts it in force within some 20 ms, tells its notification clients what changed, and logs
    // "Control applied revision N"; waitForControl() waits for that.
    void setControl(const std::string& text);
    bool waitForControl(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // fake-audio-log.txt: one line per call worth knowing about, from every program that loaded
    // the fake, in order.
    std::vector<std::string> log() const;
    bool waitForLog(const std::string& needle,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // How many log lines hold `needle`.
    size_t countLog(const std::string& needle) const;

    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
    int revision_ = 0;
};

// Registers Wine's own mmdevapi.dll as the MMDeviceEnumerator class in winePrefix() again, for
// tests that use real sound: a test that crashed may have left the fake registered.
void restoreSystemAudio();

} // namespace harness
