// What the plugin's end-to-end tests share: a user's plugin folder with the scripted stand-in
// host in it, and the texts of the events that the host reports.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "frames.h"
#include "harness.h"

namespace plugintest {

using Bytes = std::vector<unsigned char>;
using Events = std::vector<std::string>;

enum class Library { kReal, kNone, kWithoutSetLevel };

// vishost.exe beside lumo.dll and the chosen lumolink.dll, all from the x86_64 build. The host
// runs from this folder, so a bare-name load of lumolink.dll looks here and nowhere else that
// holds one; the settings file lumo.ini lies here too.
class PluginFolder {
  public:
    explicit PluginFolder(Library library = Library::kReal) {
        harness::copyFile(harness::win64Bin() + "/vishost.exe", file("vishost.exe"));
        harness::copyFile(harness::win64Bin() + "/lumo.dll", file("lumo.dll"));
        installLibrary(library);
    }
    // Puts a library in place of whatever lumolink.dll the folder held. The old file is
    // unlinked first, so a copy that is still mapped somewhere is never written over.
    void installLibrary(Library library) {
        std::remove(file("lumolink.dll").c_str());
        if (library == Library::kReal)
            harness::copyFile(harness::win64Bin() + "/lumolink.dll", file("lumolink.dll"));
        else if (library == Library::kWithoutSetLevel)
            harness::copyFile(harness::win64Bin() + "/without-setlevel/lumolink.dll",
                              file("lumolink.dll"));
    }
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.path() + "/" + name; }

    bool hasSettings() const { return harness::fileExists(file("lumo.ini")); }
    // The settings file's lines, without the platform's CR.
    std::vector<std::string> settingsLines() const {
        std::istringstream in(harness::readFile(file("lumo.ini")));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    void writeSettings(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        harness::writeFile(file("lumo.ini"), text);
    }

  private:
    harness::TempDir dir_;
};

// The scripted host with lumo.dll loaded, running from the folder; `kind` holds host-kind
// options (--embed-in-host-window, ...) to behave as some other hosts do.
class Host {
  public:
    explicit Host(const PluginFolder& folder, const std::vector<std::string>& kind = {})
        : program_(folder.file("vishost.exe"), arguments(kind), folder.path()) {}

    // A command that must succeed.
    harness::WineProgram::Reply
    operator()(const std::string& command,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        harness::WineProgram::Reply reply = program_.call(command, timeout);
        EXPECT_TRUE(reply.ok) << command << ": " << reply.value << "\n" << program_.output();
        return reply;
    }
    harness::WineProgram& program() { return program_; }

  private:
    static std::vector<std::string> arguments(const std::vector<std::string>& kind) {
        std::vector<std::string> args{"--script"};
        args.insert(args.end(), kind.begin(), kind.end());
        args.push_back("lumo.dll");
        return args;
    }

    harness::WineProgram program_;
};

// The plugin window's pixels in [x0, x1) x [y0, y1), one string per row: '#' black, '.' white.
inline std::vector<std::string> pixelRows(Host& host, int x0, int y0, int x1, int y1) {
    std::istringstream words(host("pixels " + std::to_string(x0) + " " + std::to_string(y0) + " " +
                                  std::to_string(x1) + " " + std::to_string(y1))
                                 .value);
    std::vector<std::string> rows;
    for (std::string row; words >> row;)
        rows.push_back(row);
    return rows;
}

// The host's quoting of box texts: our texts hold only line feeds and plain characters.
inline std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

// A box owned by the host's window, with one OK button.
inline std::string boxEvent(const std::string& caption, const std::string& text) {
    return "box owner=parent caption=" + quoted(caption) + " text=" + quoted(text) + " type=0";
}

inline std::string requestEvent(int code, long long wParam, long long result) {
    return "request " + std::to_string(code) + " " + std::to_string(wParam) +
           " result=" + std::to_string(result);
}

inline std::string frameEvent(int left, int top, int right, int bottom, const std::string& title) {
    return "frame " + std::to_string(left) + " " + std::to_string(top) + " " +
           std::to_string(right) + " " + std::to_string(bottom) + " title=" + quoted(title);
}

inline std::string infoBox(int port) {
    return boxEvent("Info", "Make sure the Lumo is Connected to COM" + std::to_string(port));
}

// The about box's text for a port.
inline std::string aboutText(int port) {
    return "LED-Lumo 5 - Visualisation Plugin\n"
           "(c) 2026 the lumo developers\n"
           "Drives a 5x5x5 LED cube on a serial port\n"
           "Currently using COM" +
           std::to_string(port) +
           "\n"
           "To change Configuration, please edit the lumo.ini \n"
           "File in the Plugins Folder";
}

// The 27 bytes the cube gets for a level in a pattern.
inline Bytes frameFor(CubePattern pattern, int level) {
    CubeFrame frame;
    buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
    return Bytes(frame.bytes, frame.bytes + kCubeFrameSize);
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the line carried once `count` bytes arrived, or everything that came within the wait.
inline Bytes lineAfter(harness::Pty& pty, size_t count) {
    pty.waitForBytes(count);
    return pty.bytes();
}

} // namespace plugintest
