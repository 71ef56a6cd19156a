// The plugin's window while a module runs: the host's commands, forwarded keys, the frame's
// position that the settings keep, and painting a client area of any size.
#include "plugin_session.h"

using namespace plugintest;

namespace {

class PluginWindow : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(host_("init 0").value, "0"); }
    void TearDown() override { host_("quit"); }

    Session session_;
    PluginFolder& folder_ = session_.folder;
    Host& host_ = session_.host;
};

TEST_F(PluginWindow, RandomPresetsAreQueriedWithTheFlagAndSetByTheHighWord) {
    const struct {
        const char* command;
        Events events;
    } steps[] = {
        {"command 40384 65535", {requestEvent(628, 0, 0)}}, // off at load
        {"command 40384 1", {}},
        {"command 40384 65535", {requestEvent(628, 1, 0)}},
        {"command 40384 65535", {requestEvent(628, 1, 0)}}, // a query leaves the flag
        {"command 40384 0", {}},
        {"command 40384 65535", {requestEvent(628, 0, 0)}},
        {"command 40384 7", {}}, // any non-zero value but 0xFFFF turns it on
        {"command 40384 65535", {requestEvent(628, 1, 0)}},
        {"command 40384 65534", {}},
        {"command 40384 65535", {requestEvent(628, 1, 0)}},
        {"command 40384 0", {}},
        {"command 40384 65535", {requestEvent(628, 0, 0)}},
    };
    for (const auto& step : steps)
        EXPECT_EQ(host_(step.command).events, step.events) << step.command;
}

TEST_F(PluginWindow, FullScreenIsRefusedWithABoxOnlyWhileAVideoPlays) {
    const struct {
        const char* video; // the host's answer to request 501
        Events events;
    } cases[] = {
        {"2",
         {requestEvent(501, 0, 2), boxEvent("SVis", "Can't go fullscreen while video is playing")}},
        {"3",
         {requestEvent(501, 0, 3), boxEvent("SVis", "Can't go fullscreen while video is playing")}},
        {"1", {requestEvent(501, 0, 1), requestEvent(631, 1, 0)}},
        {"0", {requestEvent(501, 0, 0), requestEvent(631, 1, 0)}},
        {"-1", {requestEvent(501, 0, -1), requestEvent(631, 1, 0)}}, // compared signed
    };
    for (const auto& c : cases) {
        host_(std::string("video ") + c.video);
        EXPECT_EQ(host_("command 40389 0").events, c.events) << "video answer " << c.video;
    }
}

TEST_F(PluginWindow, CommandsWithoutActionDoNothing) {
    // Presets, configuration and menu do nothing here; 40385 to 40388 and unknown identifiers
    // neither. None asks the host anything, shows a box or touches the random-presets flag.
    const int identifiers[] = {40382, 40383, 40385, 40386, 40387, 40388,
                               40390, 40391, 40381, 40392, 0,     65535};
    for (int id : identifiers) {
        harness::WineProgram::Reply reply = host_("command " + std::to_string(id) + " 0");
        EXPECT_EQ(reply.value, "0") << id;
        EXPECT_EQ(reply.events, Events{}) << id;
    }
    EXPECT_EQ(host_("command 40384 65535").events, Events{requestEvent(628, 0, 0)});
    EXPECT_EQ(host_("frame").value, "1 50 50 338 306 title=\"Star\"")
        << "a command moved or closed the frame";
}

TEST_F(PluginWindow, KeysReachTheHostWindowUnchanged) {
    const int keys[] = {0x41 /* A */, 0x0D /* Return */, 0x70 /* F1 */, 0x27 /* Right */};
    for (int key : keys) {
        for (const char* direction : {"down", "up"}) {
            harness::WineProgram::Reply reply =
                host_(std::string("key ") + direction + " " + std::to_string(key));
            std::string lParam = reply.value.substr(reply.value.find(' ') + 1);
            EXPECT_EQ(reply.value, "0 " + lParam) << "the key went to default processing";
            const int message = direction[0] == 'd' ? 256 : 257;
            EXPECT_EQ(reply.events, Events{"key " + std::to_string(message) + " " +
                                           std::to_string(key) + " " + lParam})
                << direction << " " << key;
        }
    }
}

TEST_F(PluginWindow, CharacterAndSystemKeyMessagesAreNotForwarded) {
    // WM_CHAR, WM_SYSKEYDOWN and WM_SYSKEYUP for "A": left to default processing.
    for (int message : {258, 260, 261})
        EXPECT_EQ(host_("message " + std::to_string(message) + " 65 1").events, Events{})
            << message;
}

TEST_F(PluginWindow, TheFramesLastPositionIsWhatTheSettingsFileGets) {
    host_("move 120 80");
    host_("move 400 -30");
    EXPECT_EQ(host_("frame").value, "1 400 -30 688 226 title=\"Star\"");
    host_("quit");
    EXPECT_EQ(folder_.settingsLines(),
              (std::vector<std::string>{"[Star]", "Screen_x=400", "Screen_y=-30", "COMPort=1"}));
    ASSERT_EQ(host_("init 0").value, "0"); // for TearDown's quit
}

// The stand-in host puts the plugin's new window at its frame's corner, as a player lays out
// what it embeds, so a person watching vishost sees the whole meter from the first render.
TEST_F(PluginWindow, TheMeterIsInsideTheFrameFromTheFirstRender) {
    host_("wave 0 const 0");
    host_("wave 1 const 0");
    host_("render");
    std::vector<std::string> meter = pixelRows(host_, 0, 0, 256, 32);
    ASSERT_EQ(meter.size(), 32u);
    // The background box's outline: every edge pixel in view, none clipped ('?').
    EXPECT_EQ(meter[0], std::string(256, '#'));
    EXPECT_EQ(meter[31], std::string(256, '#'));
    EXPECT_EQ(meter[16], "#" + std::string(254, '.') + "#");
}

TEST(PluginWindowPainting, AClientAreaLargerThanTheBufferIsWhiteBeyondIt) {
    Session session;
    auto& [pty, folder, host] = session;
    ASSERT_EQ(host("init 2").value, "0"); // NewStar: a 256 x 32 back buffer
    host("wave 0 alt 0 30");              // level 59
    host("wave 1 alt 0 10");              // level 19
    host("render");

    host("resize 256 32");
    std::vector<std::string> meter = pixelRows(host, 0, 0, 256, 32);
    ASSERT_EQ(meter.size(), 32u);
    ASSERT_EQ(meter[16][128 - 59], '#') << "the meter is not what was rendered: " << meter[16];

    host("resize 400 300");
    host("paint");
    std::vector<std::string> large = pixelRows(host, 0, 0, 400, 300);
    std::vector<std::string> expected;
    for (int y = 0; y < 300; ++y)
        expected.push_back(y < 32 ? meter[y] + std::string(144, '.') : std::string(400, '.'));
    EXPECT_EQ(large, expected);

    host("resize 200 20"); // smaller than the buffer: only the buffer's top left shows
    host("paint");
    std::vector<std::string> small = pixelRows(host, 0, 0, 200, 20);
    expected.clear();
    for (int y = 0; y < 20; ++y)
        expected.push_back(meter[y].substr(0, 200));
    EXPECT_EQ(small, expected);
    host("quit");
}

} // namespace
