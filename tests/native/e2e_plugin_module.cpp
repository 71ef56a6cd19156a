// lumo.dll as the player first meets it: the header, the three module records and the about
// box, loaded by the stand-in host under Wine.
#include "plugin_session.h"

using namespace plugintest;

namespace {

TEST(PluginModules, TheHeaderAndTheThreeRecordsAreWhatThePlayerReads) {
    PluginFolder folder;
    Host host(folder);
    EXPECT_EQ(host("header").value, "version=0x101 desc=\"LED-Lumo 5 - Visualization\" same=1");
    const struct {
        const char* index;
        // config/init/quit shared with module 0; render: the first module with the same Render,
        // so three different ones read 0, 1, 2
        const char* record;
    } cases[] = {
        {"0", "desc=\"Star\" latency=15 delay=15 spectrum=0 waveform=2 config=1 init=1 quit=1 "
              "render=0 same=1"},
        {"1", "desc=\"Levels\" latency=50 delay=50 spectrum=0 waveform=2 config=1 init=1 quit=1 "
              "render=1 same=1"},
        {"2", "desc=\"NewStar\" latency=25 delay=25 spectrum=0 waveform=2 config=1 init=1 "
              "quit=1 render=2 same=1"},
        {"3", "null"},
        {"-1", "null"},
        {"2147483647", "null"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(host(std::string("module ") + c.index).value, c.record) << "module " << c.index;
}

// The box names the port its module would open if started now: its section's, else memory's.
TEST(PluginModules, TheAboutBoxShowsThePortItsModuleWouldStartOn) {
    Session session({Library::real(), 4, {"[Levels]", "COMPort=4"}});
    auto& [pty, folder, host] = session;

    EXPECT_EQ(host("config 1").events, Events{boxEvent("Configuration", aboutText(4))});
    EXPECT_EQ(host("config 0").events, Events{boxEvent("Configuration", aboutText(1))})
        << "Star has no section: the port at load";
    EXPECT_EQ(host("init 1").value, "0");
    EXPECT_EQ(host("config 0").events, Events{boxEvent("Configuration", aboutText(4))})
        << "Star has no section: the port the last start read";
    host("quit");
    EXPECT_EQ(host("config 2").events, Events{boxEvent("Configuration", aboutText(4))});
}

} // namespace
