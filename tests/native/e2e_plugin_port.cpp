// The cube's port as a user meets it, through the stand-in host: the wrong port, a port another
// program holds, a cube plugged in late, a cable pulled and plugged back in, a cube that stops
// reading. Each is told once at the start, the run goes on, and the cube comes back by itself.
#include "plugin_session.h"

#include <unistd.h>

using namespace plugintest;
using harness::lineEvents;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

const Bytes kStarFrame = frameFor(kPatternStar, 0); // what silence lights

// The start byte, `frames` Star frames of silence, and the stop byte if `stop`.
Bytes wholeRun(size_t frames, bool stop) {
    return cubebytes::run(kStarFrame, frames, stop);
}

// How many frames of silence the line carries if it is exactly such a run; -1 otherwise.
long framesOfRun(const Bytes& line, bool stop) {
    return cubebytes::framesOfRun(line, kStarFrame, stop);
}

// Microseconds of one field ("slowest=", "total=", ...) of the host's timing report.
long long timingField(const std::string& timing, const std::string& field) {
    size_t at = timing.find(field + "=");
    return at == std::string::npos ? -1 : std::stoll(timing.substr(at + field.size() + 1));
}

std::string settingsFor(int port) {
    return "COMPort=" + std::to_string(port);
}

Events startEvents(int port, const std::string& error) {
    Events events{requestEvent(505, 0, 1), frameEvent(50, 50, 338, 306, "Star"), infoBox(port)};
    if (!error.empty())
        events.push_back(boxEvent("Error", error));
    return events;
}

TEST(PluginPort, EachReasonThePortDidNotOpenIsToldAfterInfoAndTheRunGoesOn) {
    struct Case {
        const char* what;
        bool linked;         // a pty behind COM7
        std::string hook;    // a host command that makes the library's opens fail
        bool notTerminal;    // COM7 is a link to /dev/null
        std::string message; // the box after "Info"
    } cases[] = {
        {"no such port", false, "", false, "Cannot open COM7: there is no such port"},
        {"not a serial port", false, "", true,
         "Cannot open COM7: it is not a serial port the cube can use"},
        {"held, as Windows says it", true, "portfails 5", false,
         "Cannot open COM7: another program is using it"},
        {"held, as Wine may say it", true, "portfails 32", false,
         "Cannot open COM7: another program is using it"},
        {"another reason", true, "portfails 31", false, "Cannot open COM7 (error 31)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session session(SessionSetup(Library::real(), 7, {"[Star]", settingsFor(7)}, {}, c.linked));
        auto& [pty, folder, host] = session;
        std::string link = harness::winePrefix() + "/dosdevices/com7";
        if (c.notTerminal) {
            ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
        }
        if (!c.hook.empty())
            host(c.hook);

        harness::WineProgram::Reply init = host("init 0");
        EXPECT_EQ(init.value, "0") << "a port that did not open failed the start";
        EXPECT_EQ(init.events, startEvents(7, c.message));
        harness::WineProgram::Reply render = host("render 5");
        EXPECT_EQ(render.value, "0");
        EXPECT_EQ(render.events, Events{}) << "a box during the run";

        if (!c.hook.empty()) {
            // The other program lets go of the port: the cube lights without a restart.
            host("portfails 0");
            harness::waitUntil([&] {
                host("render 5 20");
                return pty.bytes().size() >= 1 + 2 * kCubeFrameSize;
            });
            EXPECT_GE(framesOfRun(pty.bytes(), false), 2) << harness::hex(pty.bytes());
        }
        host("quit");
        EXPECT_EQ(folder.settingsLines(), (std::vector<std::string>{"[Star]", settingsFor(7),
                                                                    "Screen_x=50", "Screen_y=50"}));
        if (c.notTerminal)
            unlink(link.c_str());
    }
}

TEST(PluginPort, ACubePluggedInAfterTheStartLightsWithinASecondOnePerRenderCall) {
    Session session(SessionSetup(Library::real(), 7, {"[Star]", settingsFor(7)}, {}, false));
    auto& [pty, folder, host] = session;
    EXPECT_EQ(host("init 0").events, startEvents(7, "Cannot open COM7: there is no such port"));

    host.program().send("render 300 20"); // six seconds of a player's render calls
    std::this_thread::sleep_for(seconds(2));
    pty.linkAsCom(7);
    EXPECT_TRUE(pty.waitForBytes(1, seconds(4))) << "nothing within seconds of plugging in";
    harness::WineProgram::Reply played = host.program().receive(seconds(60));
    EXPECT_TRUE(played.ok) << played.value;
    long frames = framesOfRun(pty.settledBytes(), false);
    EXPECT_GE(frames, 1) << harness::hex(pty.bytes());

    // From now on, exactly one frame per render call.
    host("render 40");
    host("quit");
    EXPECT_EQ(lineAfter(pty, wholeRun(frames + 40, true).size()), wholeRun(frames + 40, true));
    EXPECT_EQ(host.program().finish(), 0);
}

TEST(PluginPort, ACablePulledAndPluggedBackInBringsTheCubeBackWithWholeFrames) {
    Session session;
    auto& [pty, folder, host] = session;
    host("init 0");
    host("render 20");
    EXPECT_EQ(lineAfter(pty, wholeRun(20, false).size()), wholeRun(20, false));

    host.program().send("render 300 20");
    std::this_thread::sleep_for(seconds(1));
    pty.closeMaster(); // pulled: the line hangs up under the writer
    std::this_thread::sleep_for(seconds(1));
    harness::Pty replugged; // plugged back in: a new line behind the same port
    replugged.linkAsCom(1);
    harness::WineProgram::Reply played = host.program().receive(seconds(60));
    EXPECT_TRUE(played.ok) << "the host did not run on: " << played.value;
    EXPECT_EQ(played.events, Events{}) << "a box during the run";

    host("render 30");
    host("quit");
    EXPECT_EQ(host.program().finish(), 0);
    Bytes line = replugged.settledBytes();
    EXPECT_GE(framesOfRun(line, true), 30) << lineEvents(line) << ": " << harness::hex(line);
}

// A cube that stops reading fills the line; Wine stalls a pty's writer after some 20 KB.
TEST(PluginPort, ACubeThatStopsReadingNeverHoldsTheHostAndLightsAgainWhenItReads) {
    Session session;
    auto& [pty, folder, host] = session;
    host("init 0");
    pty.pauseDraining();
    host("render 1500", seconds(120));
    std::string timing = host("timing").value;
    EXPECT_LT(timingField(timing, "slowest"), 500000)
        << "a render call blocked the host: " << timing;

    pty.resumeDraining();
    // Only the port opened again puts a start byte after the first.
    harness::waitUntil([&] {
        host("render 10 20");
        Bytes line = pty.bytes();
        Bytes restart = cubebytes::fromLastStart(line);
        return restart.size() < line.size() && restart.size() >= 1 + 10 * kCubeFrameSize;
    });
    host("quit");
    EXPECT_EQ(host.program().finish(), 0) << "the host did not end when asked";
    Bytes line = pty.settledBytes();
    Bytes sinceRestart = cubebytes::fromLastStart(line);
    EXPECT_GE(framesOfRun(sinceRestart, true), 10)
        << "no whole frames after the cube read again: " << lineEvents(sinceRestart);
}

// A line that stops taking bytes costs the host one bounded wait per reopen, about once a
// second, not one per render call; and frames flow again soon after it takes bytes again.
TEST(PluginPort, AStalledLineCostsTheHostOneBoundedWaitPerReopenNotOnePerRenderCall) {
    Session session;
    auto& [pty, folder, host] = session;
    host("init 0");
    pty.pauseDraining();
    host("render 800", seconds(120)); // until the line has stalled
    host("timing");
    host("render 400 25", seconds(120)); // ten seconds of a player's render calls
    std::string timing = host("timing").value;
    long long inside = timingField(timing, "total"), span = timingField(timing, "span");
    EXPECT_GT(span, 9000000) << timing;
    EXPECT_LT(3 * inside, span) << "the host spent a third of the run waiting: " << timing;

    Bytes before = pty.bytes();
    pty.resumeDraining();
    auto resumed = std::chrono::steady_clock::now();
    host.program().send("render 250 20");
    // A reopen is due within 1.3 s; the rest is room for a slow machine.
    bool restarted = harness::waitUntil(
        [&] {
            Bytes line = pty.bytes();
            Bytes restart = cubebytes::fromLastStart(line);
            return restart.size() < line.size() && restart.size() >= 1 + kCubeFrameSize &&
                   line.size() - restart.size() >= before.size();
        },
        seconds(30));
    auto took = std::chrono::steady_clock::now() - resumed;
    EXPECT_TRUE(restarted) << "no frames after the line took bytes again";
    EXPECT_LT(took, seconds(4)) << "frames came back only after "
                                << std::chrono::duration_cast<milliseconds>(took).count() << " ms";
    EXPECT_TRUE(host.program().receive(seconds(60)).ok);
    host("quit");
    EXPECT_EQ(host.program().finish(), 0);
}

// A port that opens but refuses the cube's settings, on a driver whose handle takes seconds to
// close (a real UART under Wine: 2 s each): one such try per second would freeze the player
// for seconds every second, so after the start's try it is not tried again during the run.
TEST(PluginPort, APortThatRefusesItsSettingsAndClosesSlowlyIsNotTriedAgainDuringTheRun) {
    Session session(SessionSetup(Library::real(), 7, {"[Star]", settingsFor(7)}));
    auto& [pty, folder, host] = session;
    host("portrefuses 2000");
    harness::WineProgram::Reply init = host("init 0", seconds(60));
    EXPECT_EQ(init.value, "0");
    EXPECT_EQ(init.events,
              startEvents(7, "Cannot open COM7: it is not a serial port the cube can use"));
    host("timing");
    host("render 150 20", seconds(120));
    std::string timing = host("timing").value;
    EXPECT_LT(timingField(timing, "slowest"), 500000) << "a render call tried the port: " << timing;
    host("quit");
    EXPECT_EQ(host.program().finish(), 0);
    EXPECT_EQ(pty.bytes(), Bytes()) << harness::hex(pty.bytes());
}

TEST(PluginPort, AStalledLineLetsTheHostEndARun) {
    Session session;
    auto& [pty, folder, host] = session;
    host("init 0");
    pty.pauseDraining();
    host("render 1000", seconds(120));
    host("quit", seconds(60));
    EXPECT_EQ(host.program().finish(), 0);
    EXPECT_EQ(folder.settingsLines(),
              (std::vector<std::string>{"[Star]", "Screen_x=50", "Screen_y=50", "COMPort=1"}));
    pty.resumeDraining();
}

// The about box shows the port that its module would start on now, and changes nothing: a
// host may open it before every start, or while another module runs.
TEST(PluginAbout, ShowsThePortItsModuleWouldStartOnAndLeavesTheRunningOneAlone) {
    Session session(
        SessionSetup(Library::real(), 4, {"[Star]", settingsFor(9), "[Levels]", settingsFor(4)}));
    auto& [pty, folder, host] = session;
    auto about = [&](int module) {
        harness::WineProgram::Reply reply = host("config " + std::to_string(module));
        return reply.events.empty() ? std::string() : reply.events.front();
    };
    EXPECT_EQ(about(0), boxEvent("Configuration", aboutText(9))) << "before any start";

    host("init 1");
    host("render 3");
    EXPECT_EQ(about(0), boxEvent("Configuration", aboutText(9))) << "Star's own port";
    EXPECT_EQ(about(1), boxEvent("Configuration", aboutText(4)));
    EXPECT_EQ(about(2), boxEvent("Configuration", aboutText(4))) << "NewStar has no port: memory's";
    host("render 3");
    host("quit");

    Bytes expected{0x4C};
    for (int i = 0; i < 6; ++i)
        expected = expected + frameFor(kPatternLevels, 0);
    expected.push_back(0x4E);
    EXPECT_EQ(lineAfter(pty, expected.size()), expected) << "Levels left its port";
    EXPECT_EQ(folder.settingsLines(),
              (std::vector<std::string>{"[Star]", settingsFor(9), "[Levels]", settingsFor(4),
                                        "Screen_x=50", "Screen_y=50"}));
}

} // namespace
