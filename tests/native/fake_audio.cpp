#include "fake_audio.h"

#include <stdio.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace harness {

namespace {

// The class COM creates for IMMDeviceEnumerator. Wine 8 reads it from HKLM only: a per-user
// registration under HKCU\Software\Classes is not honoured.
const char classKey[] =
    "HKLM\\Software\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}\\InprocServer32";

void registerAudioClass(const std::string& dll) {
    Finished reg = runWindowsProgram("reg", {"add", classKey, "/ve", "/d", dll, "/f"}, "/tmp");
    EXPECT_EQ(0, reg.exitCode) << "registering " << dll << " in " << winePrefix() << ":\n"
                               << reg.output;
}

std::string controlPath(const std::string& folder) {
    return folder + "/fake-audio.txt";
}

} // namespace

FakeAudio::FakeAudio(const std::string& folder, const std::string& control) : folder_(folder) {
    copyFile(build().bin + "/fakeaudio/fakeaudio.dll", folder_ + "/fakeaudio.dll");
    setControl(control);
    registerAudioClass(windowsPath(folder_ + "/fakeaudio.dll"));
}

FakeAudio::~FakeAudio() {
    restoreSystemAudio();
}

void FakeAudio::setControl(const std::string& text) {
    // A rename replaces the file whole: the fake reads either the old text or the new.
    std::string next = folder_ + "/fake-audio.txt.next";
    // The revision goes last, so that the fake's notes on a line ("Control line 3: ...") count
    // the lines of `text`.
    std::string ending = text.empty() || text.back() == '\n' ? "" : "\n";
    writeFile(next, text + ending + "revision " + std::to_string(++revision_) + "\n");
    if (rename(next.c_str(), controlPath(folder_).c_str()) != 0)
        ADD_FAILURE() << "cannot replace " << controlPath(folder_);
}

bool FakeAudio::waitForControl(std::chrono::milliseconds timeout) const {
    std::string applied = "Control applied revision " + std::to_string(revision_);
    return waitUntil(
        [&] {
            std::vector<std::string> lines = log();
            return std::find(lines.begin(), lines.end(), applied) != lines.end();
        },
        timeout);
}

std::vector<std::string> FakeAudio::log() const {
    return readLines(folder_ + "/fake-audio-log.txt");
}

bool FakeAudio::waitForLog(const std::string& needle, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return countLog(needle) > 0; }, timeout);
}

size_t FakeAudio::countLog(const std::string& needle) const {
    std::vector<std::string> lines = log();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(needle) != std::string::npos;
    });
}

void restoreSystemAudio() {
    registerAudioClass("C:\\windows\\system32\\mmdevapi.dll");
}

} // namespace harness
