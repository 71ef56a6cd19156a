// The plugin in hosts that are not the player: one that embeds it into its own main window and
// records no frame, one that calls Config before every Init, one that renders and quits after
// a failed Init. The host must survive a failed start, a whole run must work there, twice in
// one process, and a module that did not start must neither draw nor reach the cube.
#include <algorithm>

#include "plugin_session.h"

using namespace plugintest;

namespace {

const char kEmbedInHostWindow[] = "--embed-in-host-window";
const char kConfigBeforeInit[] = "--config-before-init";
const char kIgnoreInitResult[] = "--ignore-init-result";
const char kReuseFrame[] = "--reuse-frame";
const std::vector<std::string> kEveryQuirk = {kEmbedInHostWindow, kConfigBeforeInit,
                                              kIgnoreInitResult};

// The host window keeps its own title: there is no frame for the plugin to name.
const char kHostTitle[] = "vishost";

bool has(const std::vector<std::string>& kind, const std::string& option) {
    return std::find(kind.begin(), kind.end(), option) != kind.end();
}

std::string describe(const std::vector<std::string>& kind) {
    std::string text;
    for (const std::string& option : kind)
        text += (text.empty() ? "" : " ") + option;
    return text;
}

// What a start shows before the embedding: the about box when the host configures first.
Events beforeEmbedding(const std::vector<std::string>& kind, int aboutPort) {
    Events events;
    if (has(kind, kConfigBeforeInit))
        events.push_back(boxEvent("Configuration", aboutText(aboutPort)));
    events.push_back(requestEvent(505, 0, 1));
    return events;
}

// Windows that come and go under the host leave the screen changing for a moment: read it
// until two readings agree.
std::string settledScreen(Host& host) {
    std::string last = host("screen").value;
    for (int i = 0; i < 20; ++i) {
        std::string now = host("screen").value;
        if (now == last)
            return now;
        last = now;
    }
    ADD_FAILURE() << "the screen never settled";
    return last;
}

TEST(PluginHosts, AFailedStartLeavesTheHostWindowAliveAndALaterStartRuns) {
    for (const std::vector<std::string>& kind :
         {std::vector<std::string>{kEmbedInHostWindow}, kEveryQuirk}) {
        SCOPED_TRACE(describe(kind));
        Session session({Library::none(), 1, {}, kind});
        auto& [pty, folder, host] = session;

        harness::WineProgram::Reply failed = host("init 0");
        EXPECT_EQ(failed.value, "1");
        Events expected = beforeEmbedding(kind, 1);
        expected.push_back(frameEvent(50, 50, 338, 306, kHostTitle));
        expected.push_back(boxEvent("Error", "Cannot load lumolink.dll"));
        EXPECT_EQ(failed.events, expected) << "and no quit message for the host's loop";
        EXPECT_EQ(host("hostwindow").value, "1 0")
            << "the failed start destroyed the host window, or left its own window in it";
        EXPECT_EQ(host("quit 0").events, Events{});

        folder.installLibrary(Library::real());
        harness::WineProgram::Reply started = host("init 0");
        EXPECT_EQ(started.value, "0");
        expected = beforeEmbedding(kind, 1);
        expected.push_back(frameEvent(50, 50, 338, 306, kHostTitle));
        expected.push_back(infoBox(1));
        EXPECT_EQ(started.events, expected);
        EXPECT_EQ(host("hostwindow").value, "1 1");
        EXPECT_EQ(lineAfter(pty, 1), Bytes{0x4C}) << harness::hex(pty.bytes());
        EXPECT_EQ(host("quit").events, Events{requestEvent(611, 0, 0)});
        EXPECT_EQ(lineAfter(pty, 2), (Bytes{0x4C, 0x4E})) << harness::hex(pty.bytes());
        EXPECT_EQ(host.program().finish(), 0) << host.program().output();
    }
}

// Channel 0 waveforms and their levels: silence, a middling level, the top.
const struct {
    const char* wave;
    int level;
} kLevels[] = {{"const 0", 0}, {"alt 0 20", 39}, {"alt 0 255", 127}};

// Without a frame nothing tells the plugin where it is on the screen: the settings keep what
// was read. Its window goes at quit all the same, so the class goes and comes back.
TEST(PluginHosts, TwoWholeRunsInAHostThatEmbedsInItsOwnWindow) {
    const std::vector<std::string> settings = {"[Levels]", "Screen_x=120", "Screen_y=80",
                                               "COMPort=3"};
    Session session({Library::real(), 3, settings, kEveryQuirk});
    auto& [pty, folder, host] = session;

    Bytes line;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        harness::WineProgram::Reply init = host("init 1");
        EXPECT_EQ(init.value, "0");
        // The about box before each start names the port that start will open.
        Events expected = beforeEmbedding(kEveryQuirk, 3);
        expected.push_back(frameEvent(120, 80, 408, 336, kHostTitle));
        expected.push_back(infoBox(3));
        EXPECT_EQ(init.events, expected);
        EXPECT_EQ(host("hostwindow").value, "1 1");
        EXPECT_EQ(host("clientsize").value, "288 256");
        line = line + Bytes{0x4C};
        EXPECT_EQ(lineAfter(pty, line.size()), line) << harness::hex(pty.bytes());

        for (const auto& r : kLevels) {
            host(std::string("wave 0 ") + r.wave);
            harness::WineProgram::Reply render = host("render");
            EXPECT_EQ(render.value, "0");
            EXPECT_EQ(render.events, Events{}) << r.wave;
            line = line + frameFor(kPatternLevels, r.level);
            EXPECT_EQ(lineAfter(pty, line.size()), line)
                << r.wave << ": " << harness::hex(pty.bytes());
        }
        host("move 300 200");
        EXPECT_EQ(host("frame").value, "1 300 200 588 456 title=\"vishost\"");

        EXPECT_EQ(host("quit").events, Events{requestEvent(611, 0, 0)})
            << "the plugin told the host's own loop to quit";
        line = line + Bytes{0x4E};
        EXPECT_EQ(lineAfter(pty, line.size()), line) << harness::hex(pty.bytes());
        EXPECT_EQ(host("hostwindow").value, "1 0") << "the plugin's window outlived quit";
        EXPECT_EQ(folder.settingsLines(), settings);
    }
    EXPECT_EQ(host.program().finish(), 0) << host.program().output();
}

// How a start comes to fail, and what the test does afterwards that puts a known byte on the
// line: a byte sent by the renders would come before it.
struct FailedStart {
    const char* name;
    Library library;
    std::vector<std::string> before; // commands that succeed, then the failing "init 0"
    std::string after;               // the command that sends the next byte
    Bytes lineBefore, lineAfter;
};

const FailedStart kFailedStarts[] = {
    {"no cube library", Library::none(), {}, "init 0", {}, {0x4C}},
    // The failed Star start finds the class still registered by the running NewStar.
    {"another module running", Library::real(), {"init 2"}, "quit 2", {0x4C}, {0x4C, 0x4E}},
    // The library stays bound from the ended run; the host cannot embed this time.
    {"after an ended run",
     Library::real(),
     {"init 0", "quit 0", "embed 0"},
     "init 0",
     {0x4C, 0x4E},
     {0x4C, 0x4E, 0x4C}},
};

TEST(PluginHosts, RenderAfterAFailedStartDrawsNothingOnTheScreenAndSendsNothing) {
    for (const std::vector<std::string>& kind :
         {std::vector<std::string>{kIgnoreInitResult}, kEveryQuirk}) {
        for (const FailedStart& c : kFailedStarts) {
            SCOPED_TRACE(describe(kind) + ": " + c.name);
            Session session({c.library, 1, {}, kind});
            auto& [pty, folder, host] = session;
            for (const std::string& command : c.before)
                host(command);
            EXPECT_EQ(host("init 0").value, "1");
            EXPECT_EQ(lineAfter(pty, c.lineBefore.size()), c.lineBefore);

            const std::string screen = settledScreen(host);
            host("wave 0 alt 0 255");
            host("wave 1 alt 0 255");
            harness::WineProgram::Reply render = host("render 5");
            EXPECT_EQ(render.value, "0");
            EXPECT_EQ(render.events, Events{});
            EXPECT_EQ(host("screen").value, screen) << "a render without a run drew on the screen";
            EXPECT_EQ(host("quit").events, Events{}) << "a quit without a run did something";

            if (c.library.kind == Library::kNone)
                folder.installLibrary(Library::real());
            host("embed 1");
            host(c.after);
            EXPECT_EQ(lineAfter(pty, c.lineAfter.size()), c.lineAfter)
                << "the renders reached the cube: " << harness::hex(pty.bytes());
            host("quit 0");
        }
    }
}

// A host with one visualisation frame hands the running module's frame to a second start, which
// fails at the class: the frame is not the failed start's to destroy, and the running module
// goes on in it.
TEST(PluginHosts, AFrameHandedOutAgainToAFailingSecondStartStaysWithTheRunningModule) {
    Session session({Library::real(), 1, {}, {kReuseFrame}});
    auto& [pty, folder, host] = session;
    host("wave 0 alt 0 255");
    ASSERT_EQ(host("init 2").value, "0");
    const std::string frame = host("frame").value;
    ASSERT_EQ(frame, "1 50 50 306 82 title=\"NewStar\"");

    harness::WineProgram::Reply second = host("init 1");
    EXPECT_EQ(second.value, "1");
    EXPECT_EQ(second.events.back(), boxEvent("blah", "Error registering window class"));
    EXPECT_EQ(host("frame").value, frame) << "the running module's frame is gone or renamed";

    host("render");
    host("resize 256 32");
    EXPECT_EQ(pixelRows(host, 0, 16, 256, 17)[0][1], '#') << "the meter is not drawn";
    EXPECT_EQ(host("quit").events, (Events{requestEvent(611, 0, 0), "quitmessage 0"}));
    EXPECT_EQ(host("frame").value, "0") << "the run's quit left its frame";
    Bytes line = Bytes{0x4C} + frameFor(kPatternNewStar, 127) + Bytes{0x4E};
    EXPECT_EQ(lineAfter(pty, line.size()), line) << harness::hex(pty.bytes());
    EXPECT_EQ(host.program().finish(), 0);
}

} // namespace
