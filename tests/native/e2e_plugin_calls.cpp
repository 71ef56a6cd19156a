// What the plugin asks of the cube library, call by call, seen by a library that records each
// call in place of the real one: the exact level of every render call (the line cannot show
// it: neighbouring levels select the same frame), the "Info" box before the port is opened,
// and the stop byte and Close before the settings are written.
#include "plugin_session.h"

using namespace plugintest;

namespace {

const char kNoFile[] = "ini=-";

std::string call(const std::string& what, const std::string& settings = kNoFile) {
    return what + " box=no " + settings;
}

std::string infoBoxLine(int port) {
    return "box caption=\"Info\" text=\"Make sure the Lumo is Connected to COM" +
           std::to_string(port) + "\"";
}

TEST(PluginCalls, EachRenderHandsChannelZerosExactLevelAndTheRunIsInOrder) {
    const struct {
        const char* index;
        const char* name;
        const char* entry;
    } modules[] = {
        {"0", "Star", "setStar"}, {"1", "Levels", "setLevel"}, {"2", "NewStar", "setNewStar"}};
    // Levels inside a band, where one more or one less selects the same frame.
    const struct {
        const char* wave;
        int level;
    } waves[] = {{"alt 0 20", 39}, {"alt 0 1", 1},     {"alt 0 63", 125},
                 {"alt 0 40", 79}, {"alt 0 255", 127}, {"const 9", 0}};
    for (const auto& m : modules) {
        SCOPED_TRACE(m.name);
        Session session(Library::recorder());
        auto& [pty, folder, host] = session;
        host("wave 1 alt 0 30"); // channel 1 drives only the meter
        EXPECT_EQ(host(std::string("init ") + m.index).value, "0");
        std::vector<std::string> expected = {infoBoxLine(1), call("Open 1"), call("sendChar 76")};
        EXPECT_EQ(callLog(folder), expected) << "the port is opened only once the box is closed";
        for (const auto& w : waves) {
            host(std::string("wave 0 ") + w.wave);
            host("render");
            expected.push_back(call(std::string(m.entry) + " " + std::to_string(w.level)));
        }
        host("quit");
        // Nothing is written until the cube has had its stop byte and the port is closed.
        expected.push_back(call("sendChar 78"));
        expected.push_back(call("Close"));
        EXPECT_EQ(callLog(folder), expected);
        EXPECT_TRUE(folder.hasSettings()) << "quit wrote no settings";
    }
}

TEST(PluginCalls, TheSettingsAreWrittenOnlyAfterTheStopByteAndClose) {
    Session session({Library::recorder(), 1, {"[Star]", "COMPort=3"}});
    auto& [pty, folder, host] = session;
    const std::string before = "ini=\"[Star]|COMPort=3|\"";
    EXPECT_EQ(host("init 0").value, "0");
    host("move 120 80");
    host("quit");
    EXPECT_EQ(callLog(folder),
              (std::vector<std::string>{infoBoxLine(3), call("Open 3", before),
                                        call("sendChar 76", before), call("sendChar 78", before),
                                        call("Close", before)}));
    EXPECT_EQ(folder.settingsLines(),
              (std::vector<std::string>{"[Star]", "COMPort=3", "Screen_x=120", "Screen_y=80"}));
}

} // namespace
