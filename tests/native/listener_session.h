// What the listener's end-to-end tests share: lumolisten.exe and lumolink.dll of the build under
// test in a folder of their own, or the Linux edition with a home of its own, a run of either
// whose lines are read as they come, and the frames its line carried.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
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

// A listener running with its standard output read by the test, which is where it tells
// everything it has to tell, one line each: what both editions' sessions share.
class ListenerRun {
  public:
    ListenerRun(const ListenerRun&) = delete;
    ListenerRun& operator=(const ListenerRun&) = delete;

    // Waits for a line that holds `needle`.
    bool waitForLine(const std::string& needle, milliseconds timeout = seconds(20)) {
        bool found = process_.waitForText(needle, timeout);
        EXPECT_TRUE(found) << "no line with \"" << needle << "\"; it said:\n" << output();
        return found;
    }
    // How many lines said `needle` so far.
    size_t count(const std::string& needle) {
        std::string text = output();
        size_t found = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++found;
        return found;
    }
    // For a run with --seconds, or one that exits by itself: its exit code.
    int finish(milliseconds timeout = seconds(30)) {
        finished_ = true;
        return process_.finish(timeout);
    }
    std::string output() {
        process_.readAvailable();
        std::string text = process_.output();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

  protected:
    ListenerRun(const std::vector<std::string>& argv, const harness::Process::Options& options)
        : process_(argv, options) {}
    harness::Process process_;
    bool finished_ = false;
};

// lumolisten.exe of the build under test, under Wine.
class Listener : public ListenerRun {
  public:
    Listener(const ListenerFolder& folder, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {})
        : ListenerRun(harness::wineCommand(folder.file("lumolisten.exe"), args),
                      options(folder, environment)),
          folder_(folder.path()) {}
    ~Listener() {
        if (!finished_)
            quit();
    }
    // Ends the run as Windows' taskkill or the end of the session does: a close message to its
    // window (Quit from the menu goes the same way). Every listener of the prefix gets it.
    int quit() {
        harness::runWindowsProgram("taskkill", {"/im", "lumolisten.exe"}, folder_);
        return finish();
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
};

// A home for the Linux listener (build/native/bin/lumolisten): its settings folder
// ($XDG_CONFIG_HOME, where lumo/lumolisten.ini is the user's file) and its runtime folder (where
// the one-per-user lock lies) of the test's own; runs that share a folder are one user's.
class LinuxListenerFolder {
  public:
    LinuxListenerFolder() {
        std::filesystem::create_directories(file("config/lumo"));
        std::filesystem::create_directories(file("run"));
    }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string settingsPath() const { return file("config/lumo/lumolisten.ini"); }
    // After a sound server's: the lock is this folder's, whatever the server's runtime folder.
    std::vector<std::string> environment() const {
        return {"XDG_CONFIG_HOME=" + file("config"), "XDG_RUNTIME_DIR=" + file("run")};
    }

  private:
    harness::TempDir dir_;
};

// lumolisten for Linux running natively, as a user's service runs it.
class LinuxListener : public ListenerRun {
  public:
    // `mounts` (mount(8) command lines) give the run a mount namespace of its own with them.
    LinuxListener(const LinuxListenerFolder& folder, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment = {},
                  const std::vector<std::string>& mounts = {})
        : ListenerRun(command(args, mounts), options(folder, environment)) {}
    ~LinuxListener() {
        if (!finished_)
            stop(SIGTERM);
    }
    // As the service manager or a terminal ends it.
    int stop(int signal) {
        process_.signal(signal);
        return finish();
    }
    void signal(int number) { process_.signal(number); }

  private:
    static std::vector<std::string> command(const std::vector<std::string>& args,
                                            const std::vector<std::string>& mounts) {
        std::vector<std::string> argv = {harness::nativeProgram("lumolisten")};
        argv.insert(argv.end(), args.begin(), args.end());
        return mounts.empty() ? argv : harness::withOwnMounts(mounts, argv);
    }
    static harness::Process::Options options(const LinuxListenerFolder& folder,
                                             const std::vector<std::string>& environment) {
        harness::Process::Options options;
        options.environment = environment;
        for (const std::string& variable : folder.environment())
            options.environment.push_back(variable);
        return options;
    }
};

// A listener of the edition a test program was built for, on a pty standing in for the cube's
// port: the Windows one under Wine in e2e_tests, the Linux one natively where the program is
// built with LUMO_LINUX_EDITION (linux_listener_tests), so one test runs against both.
class EditionListener {
  public:
    EditionListener(harness::Pty& pty, std::vector<std::string> args,
                    const std::vector<std::string>& environment) {
#ifdef LUMO_LINUX_EDITION
        linuxFolder_ = std::make_unique<LinuxListenerFolder>();
        port_ = linuxFolder_->file("cube");
        pty.linkAt(port_);
        args.insert(args.begin(), {"--port", port_});
        linux_ = std::make_unique<LinuxListener>(*linuxFolder_, args, environment);
#else
        folder_ = std::make_unique<ListenerFolder>();
        port_ = "COM5";
        pty.linkAsCom(5);
        args.insert(args.begin(), {"--port", "5"});
        windows_ = std::make_unique<Listener>(*folder_, args, environment);
#endif
    }
    ListenerRun& run() {
        return linux_ ? static_cast<ListenerRun&>(*linux_) : static_cast<ListenerRun&>(*windows_);
    }
    // As a user ends it: Quit (a close message) on Windows, SIGTERM on Linux.
    int stop() {
        return linux_ ? linux_->stop(SIGTERM) : windows_->quit();
    }
    const std::string& port() const {
        return port_;
    }
    // The Windows listener's folder, for its tray menu; empty for the Linux one.
    std::string windowsFolder() const {
        return folder_ ? folder_->path() : std::string();
    }

  private:
    std::string port_;
    std::unique_ptr<ListenerFolder> folder_;
    std::unique_ptr<Listener> windows_;
    std::unique_ptr<LinuxListenerFolder> linuxFolder_;
    std::unique_ptr<LinuxListener> linux_;
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
