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

using cubebytes::Bytes;
using cubebytes::frameBytes;
using cubebytes::frameFor;
using cubebytes::operator+;
using Events = std::vector<std::string>;
using harness::lineAfter;

// Which lumolink.dll the plugin finds: the real one, none, one that lacks an export (by name),
// or the recorder, which writes down every call it gets (see CallLog).
struct Library {
    enum Kind { kReal, kNone, kWithout, kRecorder } kind;
    std::string missingExport; // kWithout
    static Library real() { return {kReal, ""}; }
    static Library none() { return {kNone, ""}; }
    static Library without(const std::string& exportName) { return {kWithout, exportName}; }
    static Library recorder() { return {kRecorder, ""}; }
};

// vishost.exe beside lumo.dll and the chosen lumolink.dll, all of the build under test (for the
// 32-bit build, the DLLs from dist/). The host runs from this folder, so a bare-name load of
// lumolink.dll looks here and nowhere else that holds one; the settings file lumo.ini lies here.
class PluginFolder {
  public:
    explicit PluginFolder(const Library& library = Library::real()) {
        const harness::Build& build = harness::build();
        harness::copyFile(build.bin + "/vishost.exe", file("vishost.exe"));
        harness::copyFile(build.shipped("lumo.dll"), file("lumo.dll"));
        installLibrary(library);
    }
    // Puts a library in place of whatever lumolink.dll the folder held. The old file is
    // unlinked first, so a copy that is still mapped somewhere is never written over.
    void installLibrary(const Library& library) { putLibrary(library, path()); }
    // Puts a library into `folder` as lumolink.dll, in place of whatever that held.
    static void putLibrary(const Library& library, const std::string& folder) {
        const harness::Build& build = harness::build();
        const std::string target = folder + "/lumolink.dll";
        std::remove(target.c_str());
        if (library.kind == Library::kReal)
            harness::copyFile(build.shipped("lumolink.dll"), target);
        else if (library.kind == Library::kWithout)
            harness::copyFile(build.bin + "/without-" + library.missingExport + "/lumolink.dll",
                              target);
        else if (library.kind == Library::kRecorder)
            harness::copyFile(build.bin + "/recorder/lumolink.dll", target);
    }
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    bool hasSettings() const { return harness::fileExists(file("lumo.ini")); }
    // The settings file's lines, without the platform's CR.
    std::vector<std::string> settingsLines() const { return harness::readLines(file("lumo.ini")); }
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
        : Host(folder.file("vishost.exe"), "lumo.dll", folder.path(), kind) {}
    // The host program at `program`, loading the plugin at `plugin` (a path as the host names
    // it), run in the folder `cwd`: a player installed in one folder and run from another.
    Host(const std::string& program, const std::string& plugin, const std::string& cwd,
         const std::vector<std::string>& kind = {})
        : program_(program, arguments(kind, plugin), cwd) {}

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
    static std::vector<std::string> arguments(const std::vector<std::string>& kind,
                                              const std::string& plugin) {
        std::vector<std::string> args{"--script"};
        args.insert(args.end(), kind.begin(), kind.end());
        args.push_back(plugin);
        return args;
    }

    harness::WineProgram program_;
};

// What most plugin tests start from: the cube's line on a pty behind a COM port, a plugin
// folder with the chosen library and settings file, and the scripted host running there.
struct SessionSetup {
    SessionSetup(const Library& library = Library::real(), int port = 1,
                 const std::vector<std::string>& settings = {},
                 const std::vector<std::string>& hostKind = {}, bool linkPort = true)
        : library(library), port(port), settings(settings), hostKind(hostKind), linkPort(linkPort) {
    }
    Library library;
    int port;
    std::vector<std::string> settings; // lumo.ini's lines; none: no file
    std::vector<std::string> hostKind; // the host's options, see Host
    bool linkPort;                     // false: the cube is not plugged in yet (link it later)
};

struct Session {
    explicit Session(const SessionSetup& setup = SessionSetup())
        : folder(setup.library), host(folder, setup.hostKind) {
        if (setup.linkPort)
            pty.linkAsCom(setup.port);
        else // whatever an earlier test left there
            std::remove(
                (harness::winePrefix() + "/dosdevices/com" + std::to_string(setup.port)).c_str());
        // The plugin reads the file at init, so the host may already be running.
        if (!setup.settings.empty())
            folder.writeSettings(setup.settings);
    }
    harness::Pty pty;
    PluginFolder folder;
    Host host;
};

// The recorder library's log (see tests/win/lumolink_recorder.cpp): one line per call or box.
inline std::vector<std::string> callLog(const PluginFolder& folder) {
    return harness::readLines(folder.file("lumolink-calls.txt"));
}

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

} // namespace plugintest
