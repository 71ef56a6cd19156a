// What the listener's end-to-end tests share: lumolisten.exe and lumolink.dll of the build under
// test in a folder of their own, a run of it whose lines are read as they come, and the frames
// its line carried.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cube_bytes.h"
#include "harness.h"
#include "level.h"
#include "waveform.h"

namespace listenertest {

using cubebytes::Bytes;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The listener beside its cube library, as a user installs them (for the 32-bit build, the very
// files in dist/). No user of the prefix has settings of their own: every run starts from the
// defaults and its command line.
class ListenerFolder {
  public:
    ListenerFolder() {
        const harness::Build& build = harness::build();
        harness::copyFile(build.shipped("lumolisten.exe"), file("lumolisten.exe"));
        harness::copyFile(build.shipped("lumolink.dll"), file("lumolink.dll"));
        namespace fs = std::filesystem;
        std::error_code ignored;
        for (const fs::directory_entry& user :
             fs::directory_iterator(harness::winePrefix() + "/drive_c/users", ignored))
            fs::remove_all(user.path() / "AppData/Roaming/lumo", ignored);
    }
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

  private:
    harness::TempDir dir_;
};

// The Windows user's own settings file in the prefix, %APPDATA%\lumo\lumolisten.ini, whether
// or not it is there.
inline std::string userSettingsPath() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (const fs::directory_entry& user :
         fs::directory_iterator(harness::winePrefix() + "/drive_c/users", ignored)) {
        if (user.path().filename() != "Public" && fs::is_directory(user.path() / "AppData"))
            return (user.path() / "AppData/Roaming/lumo/lumolisten.ini").string();
    }
    return std::string();
}

// Its text, as far as it is ASCII (the listener writes it in UTF-16); empty when there is none.
inline std::string userSettingsText() {
    std::string text;
    for (char c : harness::readFile(userSettingsPath()))
        if (c != '\0' && c != '\r' && (unsigned char)c < 0x80)
            text += c;
    return text;
}

// lumolisten.exe running with its standard output read by the test, which is where it tells
// everything it has to tell, one line each.
class Listener {
  public:
    Listener(const ListenerFolder& folder, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {})
        : folder_(folder.path()),
          process_(harness::wineCommand(folder.file("lumolisten.exe"), args),
                   options(folder, environment)) {}
    ~Listener() {
        if (!finished_)
            quit();
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Waits for a line that holds `needle`.
    bool waitForLine(const std::string& needle, milliseconds timeout = seconds(20)) {
        bool found = process_.waitForText(needle, timeout);
        EXPECT_TRUE(found) << "no line with \"" << needle << "\"; it said:\n" << output();
        return found;
    }
    // How many lines said `needle` so far.
    size_t count(const std::string& needle) {
        size_t found = 0;
        for (size_t at = output().find(needle); at != std::string::npos;
             at = output().find(needle, at + 1))
            ++found;
        return found;
    }
    // For a run with --seconds, or one that exits by itself: its exit code.
    int finish(milliseconds timeout = seconds(30)) {
        finished_ = true;
        return process_.finish(timeout);
    }
    // Ends the run as Windows' taskkill or the end of the session does: a close message to its
    // window (Quit from the menu goes the same way). Every listener of the prefix gets it.
    int quit() {
        harness::runWindowsProgram("taskkill", {"/im", "lumolisten.exe"}, folder_);
        return finish();
    }
    std::string output() {
        process_.readAvailable();
        std::string text = process_.output();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

  private:
    static harness::Process::Options options(const ListenerFolder& folder,
                                             const std::vector<std::string>& environment) {
        harness::Process::Options options = harness::wineOptions(folder.path());
        options.environment.insert(options.environment.end(), environment.begin(),
                                   environment.end());
        return options;
    }
    std::string folder_;
    harness::Process process_;
    bool finished_ = false;
};

// The line as the cube reads it.
struct CubeLine {
    std::vector<Bytes> frames;
    bool startFirst = false; // 0x4C before any frame
    bool stopLast = false;   // 0x4E after every frame
    size_t strays = 0;       // bytes that belong to nothing
    size_t starts = 0;
};

inline CubeLine readCubeLine(const Bytes& line) {
    CubeLine read;
    for (size_t at = 0; at < line.size();) {
        if (line[at] == kFrameStartByte && at + kCubeFrameSize <= line.size() &&
            line[at + kCubeFrameSize - 1] == kFrameEndByte) {
            read.frames.emplace_back(line.begin() + (long)at,
                                     line.begin() + (long)(at + kCubeFrameSize));
            at += kCubeFrameSize;
            continue;
        }
        if (line[at] == kCubeStartByte)
            ++read.starts;
        else if (line[at] != kCubeStopByte)
            ++read.strays;
        ++at;
    }
    read.startFirst = !line.empty() && line.front() == kCubeStartByte;
    read.stopLast = !line.empty() && line.back() == kCubeStopByte;
    return read;
}

// How many of `frames` are `frame`.
inline size_t countOf(const std::vector<Bytes>& frames, const Bytes& frame) {
    return (size_t)std::count(frames.begin(), frames.end(), frame);
}

// The level a steady tone gives as the player hands it over: 44.1 kHz, 16-bit, top 8 bits. The
// tones the tests play lie well inside a frame's band, so where the block starts does not matter.
inline int toneLevel(double amplitude, double frequency) {
    unsigned char block[kBlockSamples];
    for (int i = 0; i < kBlockSamples; ++i) {
        double value = amplitude * std::sin(2 * M_PI * frequency * (i + 1000) / 44100.0);
        block[i] = waveformByte((std::int16_t)std::lround(value * 32767));
    }
    return channel_level(block);
}

// A tone for each mode that selects a frame in the middle of its band: a level near an edge
// could fall either way once resampled.
struct ModeTone {
    CubePattern pattern;
    const char* mode;
    int delayMs;
    double amplitude, frequency;
};
static const ModeTone kModeTones[] = {
    {kPatternStar, "Star", 15, 0.5, 1200},       // level 38: the seven-LED cross
    {kPatternLevels, "Levels", 50, 0.5, 2000},   // level 62: planes 2 to 5
    {kPatternNewStar, "NewStar", 25, 0.5, 1400}, // level 44: frame 6
};

} // namespace listenertest
