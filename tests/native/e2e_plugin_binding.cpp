// Starting a module when the cube library is missing or incomplete, or the host cannot embed:
// the exact message, nothing on the line, and a failed start that leaves nothing behind, so
// the same process starts the module once the cause is gone.
#include <stdlib.h>

#include <filesystem>

#include "plugin_session.h"

using namespace plugintest;

namespace {

// The host reads the frame's title once init has returned; after a failed start the frame is
// already gone and has none.
const char kGoneFrameTitle[] = "";

// Open sets the line to 19200 baud; a pty starts at another speed.
bool portWasOpened(const harness::Pty& pty) {
    termios line = pty.slaveSettings();
    return cfgetospeed(&line) == B19200;
}

// The line must still be silent when the start byte of a later, good start arrives: a byte
// sent by the failed start would come first.
void expectStartByteFirst(harness::Pty& pty) {
    EXPECT_EQ(lineAfter(pty, 1), Bytes{0x4C})
        << "the line before a good start: " << harness::hex(pty.bytes());
}

// The host may still call Quit after a failed start. There is no run to end: nothing is asked
// of the host, nothing reaches the line, and no settings are written for a run that never was.
void expectNothingToQuit(Host& host, const PluginFolder& folder, const std::string& index) {
    EXPECT_EQ(host("quit " + index).events, Events{});
    EXPECT_FALSE(folder.hasSettings()) << "a quit after a failed start wrote the settings";
}

TEST(PluginBinding, WithoutTheLibraryOneErrorBoxThenAGoodLibraryStartsTheModule) {
    Session session(Library::none());
    auto& [pty, folder, host] = session;

    harness::WineProgram::Reply failed = host("init 0");
    EXPECT_EQ(failed.value, "1");
    EXPECT_EQ(failed.events,
              (Events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, kGoneFrameTitle),
                      boxEvent("Error", "Cannot load lumolink.dll")}))
        << "one Error box, no Info box, and no quit message for the host's loop";
    EXPECT_EQ(host("frame").value, "0") << "the failed start left its frame on the screen";
    EXPECT_FALSE(folder.hasSettings()) << "a failed start wrote the settings";
    EXPECT_FALSE(portWasOpened(pty));
    expectNothingToQuit(host, folder, "0");

    folder.installLibrary(Library::real());
    harness::WineProgram::Reply started = host("init 0");
    EXPECT_EQ(started.value, "0");
    EXPECT_EQ(started.events,
              (Events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, "Star"), infoBox(1)}));
    expectStartByteFirst(pty);
    host("quit");
    EXPECT_EQ(lineAfter(pty, 2), (Bytes{0x4C, 0x4E}));
}

TEST(PluginBinding, ALibraryWithoutSetLevelIsRefusedByNameAndReplacedInTheSameProcess) {
    Session session(Library::without("setLevel"));
    auto& [pty, folder, host] = session;

    harness::WineProgram::Reply failed = host("init 1");
    EXPECT_EQ(failed.value, "1");
    EXPECT_EQ(failed.events,
              (Events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, kGoneFrameTitle),
                      boxEvent("Error", "Cannot load setLevel function")}));
    EXPECT_EQ(host("frame").value, "0");
    EXPECT_FALSE(portWasOpened(pty)) << "Open was called without a complete binding";
    expectNothingToQuit(host, folder, "1");

    folder.installLibrary(Library::real());
    host("wave 0 alt 0 20"); // level 39
    EXPECT_EQ(host("init 1").value, "0") << "the refused library is still the one in use";
    expectStartByteFirst(pty);
    EXPECT_TRUE(portWasOpened(pty));
    host("render");
    host("quit");
    Bytes expected = Bytes{0x4C} + frameFor(kPatternLevels, 39) + Bytes{0x4E};
    EXPECT_EQ(lineAfter(pty, expected.size()), expected) << harness::hex(pty.bytes());
}

// Whichever export is missing, its own message and nothing else: no Info box, no port opened,
// nothing on the line, and the module starts once a complete library is in place.
TEST(PluginBinding, EachMissingExportIsNamedInItsOwnMessage) {
    const struct {
        const char* exportName;
        const char* message;
    } cases[] = {
        {"Open", "Cannot load init function"},
        {"Close", "Cannot load exit function"},
        {"setStar", "Cannot load setStar function"},
        {"setLevel", "Cannot load setLevel function"},
        {"setNewStar", "Cannot load setNewStar function"},
        {"sendChar", "Cannot load sendChar function"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("without ") + c.exportName);
        Session session(Library::without(c.exportName));
        auto& [pty, folder, host] = session;
        harness::WineProgram::Reply failed = host("init 0");
        EXPECT_EQ(failed.value, "1");
        EXPECT_EQ(failed.events,
                  (Events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, kGoneFrameTitle),
                          boxEvent("Error", c.message)}));
        EXPECT_FALSE(portWasOpened(pty)) << "Open was called without a complete binding";
        folder.installLibrary(Library::real());
        EXPECT_EQ(host("init 0").value, "0");
        expectStartByteFirst(pty);
        host("quit");
    }
}

TEST(PluginBinding, AHostThatCannotEmbedIsToldSoAndNothingIsRegistered) {
    Session session;
    auto& [pty, folder, host] = session;
    host("embed 0");
    harness::WineProgram::Reply failed = host("init 2");
    EXPECT_EQ(failed.value, "1");
    EXPECT_EQ(failed.events, (Events{requestEvent(505, 0, 0),
                                     boxEvent("blah", "This plugin requires Winamp 5.0+")}));
    expectNothingToQuit(host, folder, "2");
    host("embed 1");
    EXPECT_EQ(host("init 2").value, "0") << "the class stayed registered after the failure";
    host("quit");
}

// Reading the pixels lays the window out afresh, and the frame's position is then taken anew;
// left alone, the position saved at quit is the one put back after the failed start.
TEST(PluginBinding, ASecondStartWhileAModuleRunsFailsAtTheClassAndLeavesTheRunningOneAlone) {
    for (bool readPixels : {false, true}) {
        SCOPED_TRACE(readPixels ? "pixels read" : "window left alone");
        Session session(
            {Library::real(), 1, {"[Levels]", "Screen_x=300", "Screen_y=200", "COMPort=5"}});
        auto& [pty, folder, host] = session;
        host("wave 0 alt 0 255");
        // NewStar's buffer is 256 x 32; the failing Levels start sets the size to 288 x 256.
        EXPECT_EQ(host("init 2").value, "0");

        harness::WineProgram::Reply second = host("init 1");
        EXPECT_EQ(second.value, "1");
        EXPECT_EQ(second.events,
                  (Events{requestEvent(505, 0, 1), frameEvent(300, 200, 588, 456, kGoneFrameTitle),
                          boxEvent("blah", "Error registering window class")}));
        EXPECT_EQ(host("frame").value, "1 50 50 306 82 title=\"NewStar\"")
            << "the second start left its frame behind, or took the running one";

        // NewStar runs on: its size (white beyond its buffer), its port, its pattern, and its
        // own settings saved at its quit.
        host("render");
        if (readPixels) {
            host("resize 256 32");
            std::vector<std::string> meter = pixelRows(host, 0, 0, 256, 32);
            ASSERT_EQ(meter.size(), 32u);
            ASSERT_EQ(meter[16][1], '#') << "the meter is not what was rendered: " << meter[16];
            host("resize 400 300");
            host("paint");
            std::vector<std::string> expected(300, std::string(400, '.'));
            for (int y = 0; y < 32; ++y)
                expected[y].replace(0, 256, meter[y]);
            EXPECT_EQ(pixelRows(host, 0, 0, 400, 300), expected);
        }
        EXPECT_EQ(host("config 0").events, Events{boxEvent("Configuration", aboutText(1))});
        host("quit");
        Bytes line = Bytes{0x4C} + frameFor(kPatternNewStar, 127) + Bytes{0x4E};
        EXPECT_EQ(lineAfter(pty, line.size()), line) << harness::hex(pty.bytes());
        EXPECT_EQ(
            folder.settingsLines(),
            (std::vector<std::string>{"[Levels]", "Screen_x=300", "Screen_y=200", "COMPort=5",
                                      "[NewStar]", "Screen_x=50", "Screen_y=50", "COMPort=1"}));
        // NewStar's quit tore down its own frame and window, so the class could go and comes
        // back.
        EXPECT_EQ(host("init 2").value, "0");
        host("quit");
    }
}

} // namespace

namespace {

// A player installed in one folder and run from another: its program, its Plugins folder with
// lumo.dll, a folder it runs in (the current folder follows its Open dialog), and a folder on
// its PATH. Each may hold a lumolink.dll.
struct Installation {
    harness::TempDir program, current, onPath;
    std::string plugins() const { return program.file("Plugins"); }
    Installation() {
        harness::copyFile(harness::build().bin + "/vishost.exe", program.file("vishost.exe"));
        std::filesystem::create_directory(plugins());
        harness::copyFile(harness::build().shipped("lumo.dll"), plugins() + "/lumo.dll");
    }
};

// Where lumolink.dll lies, and which one the plugin must run: a file of that name in the
// current folder or on PATH may be anything, and would run inside the player.
struct SearchCase {
    const char* what;
    Library besideProgram, besidePlugin, inCurrentFolder, onPath;
    bool runs;                 // the module starts on the real library
    bool recorderBesidePlugin; // and the recorder beside the plugin must not have been used
};

const SearchCase kSearches[] = {
    {"only in the current folder", Library::none(), Library::none(), Library::real(),
     Library::none(), false, false},
    {"only in a folder on PATH", Library::none(), Library::none(), Library::none(), Library::real(),
     false, false},
    {"only beside lumo.dll", Library::none(), Library::real(), Library::none(), Library::none(),
     true, false},
    {"beside the program and beside lumo.dll", Library::real(), Library::recorder(),
     Library::none(), Library::none(), true, true},
};

TEST(PluginBinding, TheCubeLibraryIsLoadedOnlyBesideTheProgramInTheSystemOrBesideThePlugin) {
    for (const SearchCase& c : kSearches) {
        SCOPED_TRACE(c.what);
        Installation installed;
        PluginFolder::putLibrary(c.besideProgram, installed.program.path());
        PluginFolder::putLibrary(c.besidePlugin, installed.plugins());
        PluginFolder::putLibrary(c.inCurrentFolder, installed.current.path());
        PluginFolder::putLibrary(c.onPath, installed.onPath.path());
        harness::Pty pty;
        pty.linkAsCom(1);
        // Wine puts WINEPATH ahead of the PATH that Windows programs see.
        setenv("WINEPATH", harness::windowsPath(installed.onPath.path()).c_str(), 1);
        Host host(installed.program.file("vishost.exe"),
                  harness::windowsPath(installed.plugins() + "/lumo.dll"),
                  installed.current.path());
        unsetenv("WINEPATH");

        harness::WineProgram::Reply init = host("init 0");
        if (c.runs) {
            EXPECT_EQ(init.value, "0");
            EXPECT_EQ(init.events.back(), infoBox(1));
            EXPECT_EQ(lineAfter(pty, 1), Bytes{0x4C}) << "not the real library";
            host("quit");
        } else {
            EXPECT_EQ(init.value, "1");
            EXPECT_EQ(init.events.back(), boxEvent("Error", "Cannot load lumolink.dll"));
            EXPECT_EQ(host("loaded lumolink.dll").value, "0") << "a planted library was loaded";
        }
        if (c.recorderBesidePlugin) {
            EXPECT_FALSE(harness::fileExists(installed.plugins() + "/lumolink-calls.txt"))
                << "the library beside the plugin was used, not the one beside the program";
        }
        EXPECT_EQ(host.program().finish(), 0);
    }
}

} // namespace
