// Thousands of render calls must leave no handle, GDI object or device context behind. Wine's
// GetProcessHandleCount answers 0, so the host reads the next free slots instead: they stay
// put unless something leaks.
#include "plugin_session.h"

using namespace plugintest;
using std::chrono::seconds;

namespace {

const char kWarmUp[] = "render 50"; // lets Wine fill its DC cache before the first reading

TEST(PluginSoak, TheResourceReadingSeesADeliberateLeak) {
    Session session;
    auto& [pty, folder, host] = session;
    ASSERT_EQ(host("init 0").value, "0");
    host(kWarmUp);
    const std::string baseline = host("resources").value;
    EXPECT_EQ(host("resources").value, baseline) << "the reading itself moves";

    const struct {
        const char* leak;
        int times;
    } leaks[] = {{"leak handle", 1}, {"leak gdi", 1}, {"leak dc", 10}};
    for (const auto& l : leaks) {
        const std::string before = host("resources").value;
        for (int i = 0; i < l.times; ++i)
            host(l.leak);
        host("render 10");
        EXPECT_NE(host("resources").value, before) << l.leak << " x" << l.times << " went unseen";
    }
    host("quit");
}

TEST(PluginSoak, TenThousandRenderCallsLeaveNothingBehind) {
    Session session;
    auto& [pty, folder, host] = session;
    host("wave 0 alt 0 40"); // level 79
    host("wave 1 alt 0 90");
    ASSERT_EQ(host("init 0").value, "0");
    host(kWarmUp);
    const std::string before = host("resources").value;
    EXPECT_EQ(host("render 10000", seconds(600)).value, "0");
    EXPECT_EQ(host("resources").value, before) << "handles or GDI objects leaked";
    host("quit");

    const size_t frames = 50 + 10000;
    ASSERT_TRUE(pty.waitForBytes(2 + frames * kCubeFrameSize, seconds(60)))
        << pty.bytes().size() << " bytes on the line";
    const Bytes line = pty.bytes();
    const Bytes frame = frameFor(kPatternStar, 79);
    EXPECT_EQ(line.size(), 2 + frames * kCubeFrameSize);
    EXPECT_EQ(line.front(), 0x4C);
    EXPECT_EQ(line.back(), 0x4E);
    size_t wrongFrames = 0;
    for (size_t i = 0; i < frames; ++i)
        wrongFrames +=
            !std::equal(frame.begin(), frame.end(), line.begin() + 1 + i * kCubeFrameSize);
    EXPECT_EQ(wrongFrames, 0u);
}

} // namespace
