// cubeview as a user runs it: the real binary, bytes written into its pty, a serial device or
// its stdin, and its output read back.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "harness.h"

namespace {

using namespace cubebytes;
using harness::fileExists;
using harness::waitUntil;

std::string cubeviewPath() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? length : 0);
    return path.substr(0, path.rfind('/')) + "/cubeview";
}

// The real cubeview binary with these arguments; its stdout is read by the test, or goes to
// `terminal` (a pty's slave) for the live view.
class Cubeview : public harness::Process {
  public:
    explicit Cubeview(const std::vector<std::string>& args, int terminal = -1)
        : Process(command(args), options(terminal)) {}

  private:
    static std::vector<std::string> command(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {cubeviewPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    static Options options(int terminal) {
        Options options;
        options.stdoutFd = terminal;
        return options;
    }
};

void writeAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
}

void send(Cubeview& view, const Bytes& bytes) {
    view.send(std::string(bytes.begin(), bytes.end()));
}

TEST(Cubeview, LinkedPtyTakesWritersOneAfterAnotherUntilTheStopByte) {
    harness::TempDir dir;
    std::string link = dir.path() + "/com1";
    Cubeview view({"--link", link, "--until-stop", "--summary", "--timeout", "30"});
    ASSERT_TRUE(waitUntil([&] { return fileExists(link); })) << "no link at " << link;

    // The first writer comes and goes, as the plugin does between two runs.
    int port = open(link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(port, 0);
    termios settings;
    ASSERT_EQ(0, tcgetattr(port, &settings));
    EXPECT_EQ(0u, settings.c_lflag & (ICANON | ECHO)) << "the pty is not in raw mode";
    writeAll(port, join({{kCubeStartByte}, frameBytes(kPatternStar, 2), {0x00, 0x55, 0x7E}}));
    close(port);

    port = open(link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(port, 0);
    writeAll(port, join({frameBytes(kPatternStar, 0),
                         frameBytes(kPatternStar, 3),
                         {kCubeStopByte},
                         frameBytes(kPatternLevels, 5)}));
    close(port);

    EXPECT_EQ(0, view.finish());
    EXPECT_EQ("start at=0\n"
              "frame 1 Star 2/3 lit=7 at=1\n"
              "skipped 3 at=28\n"
              "frame 2 Star 0/3 lit=0 at=31\n"
              "frame 3 Star 3/3 lit=13 at=58\n"
              "stop at=85\n"
              "end stop\n"
              "summary frames=3 bytes=86 skipped=3 rejected=0 start=1 stop=1 other=0 "
              "undecided=0 distinct_Star=3 distinct_Levels=0 distinct_NewStar=0 "
              "distinct_Spectrum=0 distinct_Pulse=0 patterns=Star\n",
              view.output());
    EXPECT_FALSE(fileExists(link)) << "the link outlived cubeview";
}

TEST(Cubeview, ReplacesAnOldLinkAndRemovesItOnSigterm) {
    harness::TempDir dir;
    std::string link = dir.path() + "/com1";
    ASSERT_EQ(0, symlink("/dev/ttyS0", link.c_str()));
    Cubeview view({"--link", link, "--summary"});
    ASSERT_TRUE(waitUntil([&] {
        char target[256];
        ssize_t length = readlink(link.c_str(), target, sizeof target);
        return length > 0 && std::string(target, length).find("/dev/pts/") == 0;
    })) << "the old link was not replaced";
    view.signal(SIGTERM);
    EXPECT_EQ(0, view.finish());
    EXPECT_NE(std::string::npos, view.output().find("end signal\nsummary frames=0 "))
        << view.output();
    EXPECT_FALSE(fileExists(link));
}

TEST(Cubeview, DeviceIsSetToTheCubesLineAndReadUntilHangUp) {
    harness::Pty device;
    device.pauseDraining(); // cubeview reads the slave; the test only writes into the master
    termios settings = device.slaveSettings();
    cfsetspeed(&settings, B9600);
    settings.c_cflag |= PARENB | CSTOPB;
    device.setSlaveSettings(settings);

    Cubeview view({"--device", device.slavePath(), "--summary"});
    EXPECT_TRUE(waitUntil([&] {
        settings = device.slaveSettings();
        return cfgetispeed(&settings) == B19200 && cfgetospeed(&settings) == B19200;
    })) << "cubeview did not set 19200 baud";
    EXPECT_EQ(static_cast<tcflag_t>(CS8), settings.c_cflag & CSIZE);
    EXPECT_EQ(0u, settings.c_cflag & (PARENB | CSTOPB));
    EXPECT_EQ(0u, settings.c_lflag & ICANON);
    device.closeSlave();

    device.write(join({{kCubeStartByte}, frameBytes(kPatternNewStar, 11), {kCubeStopByte}}));
    ASSERT_TRUE(view.waitForText("stop at=28\n")) << view.output();
    device.closeMaster(); // the device goes away: cubeview must end, not spin

    EXPECT_EQ(0, view.finish());
    EXPECT_NE(std::string::npos,
              view.output().find("frame 1 NewStar 11/15 lit=21 at=1\nstop at=28\nend eof\n"
                                 "summary frames=1 bytes=29 "))
        << view.output();
}

TEST(Cubeview, QuietStdinTimesOutAndReportsAMissingStopByte) {
    Cubeview view({"--stdin", "--until-stop", "--timeout", "0.5", "--summary"});
    // A frame cut short, then nothing: it must be settled, not left pending.
    Bytes cut = frameBytes(kPatternLevels, 3);
    cut.resize(9);
    send(view, join({frameBytes(kPatternLevels, 3), cut}));
    // Input stays open: the quiet line, not the end of input, must end the run.
    EXPECT_TRUE(view.waitForText("end timeout")) << view.output();
    EXPECT_EQ(2, view.finish());
    EXPECT_NE(std::string::npos,
              view.output().find("frame 1 Levels 3/5 lit=75 at=0\nskipped 9 at=27\nend timeout\n"
                                 "summary frames=1 bytes=36 skipped=9 rejected=0 start=0 stop=0 "))
        << view.output();
}

TEST(Cubeview, RejectedFramesAreCountedAndTheStreamEndsAtEndOfFile) {
    Cubeview view({"--stdin", "--summary"});
    Bytes bad = frameBytes(kPatternStar, 3);
    bad[13] = 0x9F;
    send(view, join({bad, frameBytes(kPatternStar, 1)}));
    view.closeInput();
    EXPECT_EQ(0, view.finish());
    EXPECT_EQ("rejected 1 at=0\n"
              "frame 1 Star 1/3 | NewStar 1/15 | Pulse 1/3 lit=1 at=27\n"
              "end eof\n"
              "summary frames=1 bytes=54 skipped=0 rejected=1 start=0 stop=0 other=0 "
              "undecided=1 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 "
              "distinct_Spectrum=0 distinct_Pulse=0 patterns=none\n",
              view.output());
}

TEST(Cubeview, TerminalShowsThePlanesAndRestoresTheCursor) {
    harness::Pty terminal;
    Cubeview view({"--stdin"}, terminal.slave());
    send(view, frameBytes(kPatternStar, 3));
    view.closeInput();
    EXPECT_EQ(0, view.finish());
    terminal.closeMaster(); // everything cubeview drew is read by now
    const Bytes drawn = terminal.bytes();
    std::string screen(drawn.begin(), drawn.end());
    size_t lastDraw = screen.rfind("\033[H");
    ASSERT_NE(std::string::npos, lastDraw) << screen;
    std::string drawing = screen.substr(lastDraw);
    EXPECT_NE(std::string::npos, drawing.find("Star 3/3")) << drawing;
    size_t lit = 0;
    for (size_t at = drawing.find("\u25CF"); at != std::string::npos;
         at = drawing.find("\u25CF", at + 1))
        ++lit;
    EXPECT_EQ(13u, lit);
    EXPECT_NE(std::string::npos, drawing.find("frames 1 ")) << drawing;
    EXPECT_EQ(0u, screen.find("\033[?25l")) << "the cursor was not hidden first";
    EXPECT_NE(std::string::npos, drawing.find("\033[?25h")) << "the cursor stays hidden";
}

TEST(Cubeview, SvgOfAFrameDrawsEveryLedLitOrDark) {
    struct Case {
        const char* pattern;
        const char* frame;
        size_t lit;
    } cases[] = {{"Star", "3", 13}, {"levels", "5", 125}, {"NewStar", "15", 29}, {"Star", "0", 0}};
    for (const Case& c : cases) {
        Cubeview view({"--svg", "-", "--pattern", c.pattern, "--frame", c.frame});
        EXPECT_EQ(0, view.finish());
        auto count = [&](const std::string& what) {
            size_t n = 0;
            for (size_t at = view.output().find(what); at != std::string::npos;
                 at = view.output().find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(c.lit, count("class=\"lit\"")) << c.pattern << " " << c.frame;
        EXPECT_EQ(125 - c.lit, count("class=\"dark\"")) << c.pattern << " " << c.frame;
    }
    Cubeview outOfRange({"--svg", "-", "--pattern", "Star", "--frame", "4"});
    EXPECT_EQ(1, outOfRange.finish());
}

} // namespace
