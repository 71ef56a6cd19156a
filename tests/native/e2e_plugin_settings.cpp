// The settings file lumo.ini beside the plugin, read at every start and written at every quit,
// as Wine's profile functions read and write it.
#include <sys/mount.h>

#include <sstream>

#include "plugin_session.h"

using namespace plugintest;
using Lines = std::vector<std::string>;

namespace {

TEST(PluginSettings, APortAloneInTheStarSectionIsUsedAndThePositionIsAdded) {
    Session session({Library::real(), 3, {"[Star]", "COMPort=3"}});
    auto& [pty, folder, host] = session;
    harness::WineProgram::Reply init = host("init 0");
    EXPECT_EQ(init.events,
              (Events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, "Star"), infoBox(3)}));
    EXPECT_EQ(lineAfter(pty, 1), Bytes{0x4C}) << "not opened on COM3";
    host("quit");
    EXPECT_EQ(folder.settingsLines(), (Lines{"[Star]", "COMPort=3", "Screen_x=50", "Screen_y=50"}));
}

TEST(PluginSettings, LevelsStartsWhereStarLeftOffAndGetsASectionOfItsOwn) {
    Session session({Library::real(), 2, {"[Star]", "COMPort=2"}});
    auto& [pty, folder, host] = session;
    host("init 0");
    host("move 120 80");
    host("quit");
    harness::WineProgram::Reply levels = host("init 1");
    EXPECT_EQ(levels.events, (Events{requestEvent(505, 0, 1),
                                     frameEvent(120, 80, 408, 336, "Levels"), infoBox(2)}));
    host("render");
    host("quit");
    Bytes expected = Bytes{0x4C, 0x4E, 0x4C} + frameFor(kPatternLevels, 0) + Bytes{0x4E};
    EXPECT_EQ(lineAfter(pty, expected.size()), expected) << harness::hex(pty.bytes());
    EXPECT_EQ(folder.settingsLines(),
              (Lines{"[Star]", "COMPort=2", "Screen_x=120", "Screen_y=80", "[Levels]",
                     "Screen_x=120", "Screen_y=80", "COMPort=2"}));
}

TEST(PluginSettings, EachModuleReadsOnlyItsOwnSection) {
    Session session({Library::real(), 1, {"[Star]", "Screen_x=10", "Screen_y=20", "COMPort=7"}});
    auto& [pty, folder, host] = session;
    EXPECT_EQ(host("init 2").events, (Events{requestEvent(505, 0, 1),
                                             frameEvent(50, 50, 306, 82, "NewStar"), infoBox(1)}));
    host("quit");
}

TEST(PluginSettings, NegativeCoordinatesAreReadAndWrittenWithASign) {
    Session session({Library::real(), 1, {"[NewStar]", "Screen_x=-8", "Screen_y=-20"}});
    auto& [pty, folder, host] = session;
    EXPECT_EQ(host("init 2").events, (Events{requestEvent(505, 0, 1),
                                             frameEvent(-8, -20, 248, 12, "NewStar"), infoBox(1)}));
    host("quit");
    EXPECT_EQ(folder.settingsLines(),
              (Lines{"[NewStar]", "Screen_x=-8", "Screen_y=-20", "COMPort=1"}));
}

TEST(PluginSettings, OtherSectionsKeysAndCommentsAreLeftAsTheyWere) {
    Session session({Library::real(),
                     6,
                     {"; kept by hand", "[Other]", "Screen_x=999", "[star]", "Extra=keep",
                      "comport=6", "Screen_x=70", "[Tail]", "x=1"}});
    auto& [pty, folder, host] = session;
    // Section and key names match whatever their case.
    EXPECT_EQ(host("init 0").events,
              (Events{requestEvent(505, 0, 1), frameEvent(70, 50, 358, 306, "Star"), infoBox(6)}));
    host("quit");
    EXPECT_EQ(folder.settingsLines(),
              (Lines{"; kept by hand", "[Other]", "Screen_x=999", "[star]", "Extra=keep",
                     "comport=6", "Screen_x=70", "Screen_y=50", "[Tail]", "x=1"}));
}

// The about box tells the user to change the port in lumo.ini, and they may do so while a mode
// runs: the file's port is theirs, not the run's. Positions are saved as always.
TEST(PluginSettings, APortEditedDuringARunIsKeptAtQuitAndTheNextStartOpensIt) {
    const struct {
        const char* what;
        Lines before, edited, after;
    } cases[] = {
        {"the port changed",
         {"[Star]", "COMPort=3"},
         {"[Star]", "COMPort=5"},
         {"[Star]", "COMPort=5", "Screen_x=50", "Screen_y=50"}},
        {"a port added to a section that had none",
         {"[Star]", "Screen_x=60"},
         {"[Star]", "Screen_x=60", "COMPort=5"},
         {"[Star]", "Screen_x=60", "COMPort=5", "Screen_y=50"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        harness::Pty com5;
        com5.linkAsCom(5);
        Session session({Library::real(), 3, c.before});
        auto& [pty, folder, host] = session;
        host("init 0");
        host("render");
        folder.writeSettings(c.edited); // the user's editor saves the file
        host("quit");
        EXPECT_EQ(folder.settingsLines(), c.after);
        EXPECT_EQ(host("init 0").events.back(), infoBox(5));
        EXPECT_EQ(lineAfter(com5, 1), Bytes{0x4C}) << "the next start did not open COM5";
        host("quit");
    }
}

// Wine reports one 1024 x 768 monitor on the tests' screen. A frame saved on a monitor that is
// gone opens on this one, its size kept; one that any monitor shows a part of stays as saved.
TEST(PluginSettings, AFrameSavedOffEveryScreenOpensOnTheScreenAndOnePartlyOnItStaysPut) {
    const struct {
        int x, y;
        bool moved;
    } cases[] = {{5000, 5000, true}, {-400, 100, true}, {-8, -20, false}, {900, 600, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + ", " + std::to_string(c.y));
        Session session({Library::real(),
                         1,
                         {"[Star]", "Screen_x=" + std::to_string(c.x),
                          "Screen_y=" + std::to_string(c.y), "COMPort=1"}});
        auto& [pty, folder, host] = session;
        harness::WineProgram::Reply init = host("init 0");
        ASSERT_EQ(init.value, "0");
        std::istringstream frame(host("frame").value);
        int exists = 0, left = 0, top = 0, right = 0, bottom = 0;
        frame >> exists >> left >> top >> right >> bottom;
        EXPECT_EQ(right - left, 288) << "the frame's size changed";
        EXPECT_EQ(bottom - top, 256) << "the frame's size changed";
        if (c.moved) {
            EXPECT_TRUE(left >= 0 && top >= 0 && right <= 1024 && bottom <= 768)
                << "the frame is not on the screen: " << left << ", " << top;
            EXPECT_EQ(init.events[1], frameEvent(left, top, right, bottom, "Star"));
        } else {
            EXPECT_EQ(init.events[1], frameEvent(c.x, c.y, c.x + 288, c.y + 256, "Star"));
        }
        host("quit");
        EXPECT_EQ(folder.settingsLines(), (Lines{"[Star]", "Screen_x=" + std::to_string(left),
                                                 "Screen_y=" + std::to_string(top), "COMPort=1"}));
    }
}

// The plugin's folder made read-only underneath the running host: a bind mount, since root
// (which these tests run as) writes into a folder whatever its mode.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const std::string& path) : path_(path) {
        mounted_ = mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
        if (mounted_)
            readOnly_ = mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                              nullptr) == 0;
    }
    ~ReadOnlyFolder() {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    bool readOnly() const { return readOnly_; }

  private:
    std::string path_;
    bool mounted_ = false;
    bool readOnly_ = false;
};

TEST(PluginSettings, AReadOnlyFolderDoesNotBreakTheRun) {
    harness::Pty pty;
    pty.linkAsCom(4);
    PluginFolder folder;
    folder.writeSettings({"[Levels]", "COMPort=4", "Screen_x=60"});
    const std::string before = harness::readFile(folder.file("lumo.ini"));
    ReadOnlyFolder readOnly(folder.path());
    if (!readOnly.readOnly())
        GTEST_SKIP() << "cannot mount the folder read-only here";
    // The host starts only now, so that it finds the folder read-only from the start.
    Host host(folder);
    EXPECT_EQ(host("init 1").events, (Events{requestEvent(505, 0, 1),
                                             frameEvent(60, 50, 348, 306, "Levels"), infoBox(4)}));
    host("move 90 90");
    host("render");
    host("quit");
    // The file still says x 60; y, which it lacks, comes from memory, as the move left it.
    EXPECT_EQ(host("init 1").events,
              (Events{requestEvent(505, 0, 1), frameEvent(60, 90, 348, 346, "Levels"), infoBox(4)}))
        << "the values in memory are kept when the file cannot be written";
    host("quit");
    Bytes expected = Bytes{0x4C} + frameFor(kPatternLevels, 0) + Bytes{0x4E, 0x4C, 0x4E};
    EXPECT_EQ(lineAfter(pty, expected.size()), expected) << harness::hex(pty.bytes());
    EXPECT_EQ(harness::readFile(folder.file("lumo.ini")), before);
    EXPECT_EQ(host.program().finish(), 0);
}

} // namespace
