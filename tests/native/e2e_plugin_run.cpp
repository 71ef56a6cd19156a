// A module's whole run through the stand-in host: what the host is asked and shown, what the
// cube's line carries (read off a pty standing in for COM1), what the meter looks like in the
// window, and what the settings file holds afterwards.
#include "plugin_session.h"

using namespace plugintest;

namespace {

struct ModuleCase {
    const char* index;
    const char* name;
    CubePattern pattern;
    int right, bottom; // the frame rectangle the host is asked for, from (50, 50)
    const char* clientSize;
};

const ModuleCase kModules[] = {
    {"0", "Star", kPatternStar, 338, 306, "288 256"},     // Star: 288 x 256
    {"1", "Levels", kPatternLevels, 338, 306, "288 256"}, // Levels: 288 x 256
    {"2", "NewStar", kPatternNewStar, 306, 82, "256 32"}, // NewStar: just the meter
};

// Channel 0 waveforms of the run and their levels: silence, a middling level, the top.
const struct {
    const char* wave;
    int level;
} kRunLevels[] = {
    {"const 0", 0},     // no change at all
    {"alt 0 20", 39},   // 575 * 20 / 288
    {"alt 0 255", 127}, // 509 before the clamp
    {"alt 0 20", 39},   // a repeat is sent again
};

TEST(PluginRun, EachModuleRunsFromStartByteThroughItsFramesToStopByteAndSavesItsSection) {
    for (const ModuleCase& m : kModules) {
        SCOPED_TRACE(m.name);
        Session session;
        auto& [pty, folder, host] = session;
        host("wave 1 alt 0 255"); // channel 1 only drives the meter

        harness::WineProgram::Reply init = host(std::string("init ") + m.index);
        EXPECT_EQ(init.value, "0");
        EXPECT_EQ(init.events, (Events{requestEvent(505, 0, 1),
                                       frameEvent(50, 50, m.right, m.bottom, m.name), infoBox(1)}));
        EXPECT_EQ(host("frame").value, "1 50 50 " + std::to_string(m.right) + " " +
                                           std::to_string(m.bottom) + " title=" + quoted(m.name));
        EXPECT_EQ(host("clientsize").value, m.clientSize);
        EXPECT_EQ(lineAfter(pty, 1), Bytes{0x4C}) << "the start byte, right after opening";

        Bytes expected{0x4C};
        for (const auto& r : kRunLevels) {
            host(std::string("wave 0 ") + r.wave);
            harness::WineProgram::Reply render = host("render");
            EXPECT_EQ(render.value, "0");
            EXPECT_EQ(render.events, Events{}) << r.wave;
            expected = expected + frameFor(m.pattern, r.level);
            EXPECT_EQ(lineAfter(pty, expected.size()), expected)
                << r.wave << ": " << harness::hex(pty.bytes());
        }

        harness::WineProgram::Reply quit = host("quit");
        EXPECT_EQ(quit.events, (Events{requestEvent(611, 0, 0), "quitmessage 0"}));
        expected = expected + Bytes{0x4E};
        EXPECT_EQ(lineAfter(pty, expected.size()), expected) << harness::hex(pty.bytes());
        EXPECT_EQ(host("frame").value, "0") << "the frame outlived quit";
        EXPECT_EQ(folder.settingsLines(),
                  (std::vector<std::string>{std::string("[") + m.name + "]", "Screen_x=50",
                                            "Screen_y=50", "COMPort=1"}));
        EXPECT_EQ(host.program().finish(), 0) << host.program().output();
    }
}

// 576 samples as the host's "hex" wave pattern.
std::string hexWave(int (*sampleAt)(int)) {
    std::string digits;
    char byte[3];
    for (int i = 0; i < 576; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", sampleAt(i) & 0xFF);
        digits += byte;
    }
    return "hex " + digits;
}

// A row between the top and bottom of the 256 x 32 meter: black outlines on white, the background
// box, channel 0's bar from 128 - left to 128 and channel 1's from 128 to 128 + right.
std::string meterRow(int left, int right) {
    std::string row(256, '.');
    auto outline = [&row](int from, int to) { // a box from `from` to `to`, right edge excluded
        if (to > from) {
            row[from] = '#';
            row[to - 1] = '#';
        }
    };
    outline(0, 256);
    outline(128 - left, 128);
    outline(128, 128 + right);
    return row;
}

TEST(PluginRender, LevelsReachTheCubeAndTheMeter) {
    const struct {
        const char* name;
        std::string wave0;
        int level0;
        std::string wave1;
        int level1;
    } cases[] = {
        {"equal samples", "const 77", 0, "const 200", 0},
        {"alternating 0/1 and 0/2", "alt 0 1", 1, "alt 0 2", 3},
        {"alternating 0/63 and 0/64", "alt 0 63", 125, "alt 0 64", 127},
        {"alternating 0/255 both ways", "alt 0 255", 127, "alt 255 0", 127},
        {"one jump counts once", "step 0 255 288", 0, "alt 0 63", 125},
        {"255-to-0 steps count 255", hexWave([](int i) { return i % 8 ? 0 : 255; }), 126,
         hexWave([](int i) { return i % 256; }), 3},
        {"channel 0 silent, channel 1 busy", "const 0", 0, "alt 0 255", 127},
        {"channel 0 busy, channel 1 silent", "alt 0 40", 79, "const 9", 0},
    };
    Session session;
    auto& [pty, folder, host] = session;
    EXPECT_EQ(host("init 2").value, "0"); // NewStar: the window is exactly the meter
    host("resize 256 32");                // brings the window to the frame's top left
    Bytes expected{0x4C};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host("wave 0 " + c.wave0);
        host("wave 1 " + c.wave1);
        EXPECT_EQ(host("render").value, "0");
        expected = expected + frameFor(kPatternNewStar, c.level0);
        EXPECT_EQ(lineAfter(pty, expected.size()), expected) << harness::hex(pty.bytes());

        std::vector<std::string> pixels = pixelRows(host, 0, 0, 256, 32);
        // The top and bottom rows are the boxes' edges; the rows between cut the outlines.
        std::vector<std::string> meter(32, meterRow(c.level0, c.level1));
        meter.front() = meter.back() = std::string(256, '#');
        EXPECT_EQ(pixels, meter);
    }
    host("quit");
}

} // namespace
