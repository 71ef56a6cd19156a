// cubeview as a user runs it: the real binary, bytes written into its pty, a serial device or
// its stdin, and its output read back.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "frames.h"
#include "harness.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

std::string cubeviewPath() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? length : 0);
    return path.substr(0, path.rfind('/')) + "/cubeview";
}

Bytes frame(CubePattern pattern, int index) {
    CubeFrame built;
    buildCubeFrame(pattern, index, &built);
    return Bytes(built.bytes, built.bytes + kCubeFrameSize);
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

template <typename Condition> bool waitFor(Condition condition, int seconds = 10) {
    Clock::time_point limit = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void writeAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
}

// A running cubeview with its stdout on a pipe (or on a given fd, e.g. a pty for the terminal
// view) and, optionally, its stdin on a pipe the test writes into.
class Cubeview {
  public:
    Cubeview(const std::vector<std::string>& args, bool pipeStdin = false, int stdoutFd = -1) {
        int out[2], in[2] = {-1, -1};
        EXPECT_EQ(0, pipe2(out, O_CLOEXEC)); // dup2 clears it on the child's stdout
        if (pipeStdin) {
            EXPECT_EQ(0, pipe2(in, O_CLOEXEC));
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(stdoutFd >= 0 ? stdoutFd : out[1], STDOUT_FILENO);
            if (pipeStdin)
                dup2(in[0], STDIN_FILENO);
            std::vector<char*> argv;
            std::string program = cubeviewPath();
            argv.push_back(&program[0]);
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        if (pipeStdin) {
            close(in[0]);
            stdin_ = in[1];
        }
    }
    ~Cubeview() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(output_);
        if (stdin_ >= 0)
            close(stdin_);
    }
    int input() const { return stdin_; }
    void closeInput() {
        close(stdin_);
        stdin_ = -1;
    }
    void signal(int number) { kill(pid_, number); }

    // Waits for the exit (killing it after the timeout) and returns its exit code, -1 if killed.
    int finish(int seconds = 20) {
        Clock::time_point limit = Clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            drain(50);
            if (Clock::now() > limit) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                ADD_FAILURE() << "cubeview did not exit; output so far:\n" << text_;
                break;
            }
        }
        exited_ = true;
        while (drain(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& text() const { return text_; }
    bool waitForText(const std::string& needle) {
        return waitFor([&] {
            drain(5);
            return text_.find(needle) != std::string::npos;
        });
    }

  private:
    bool drain(int milliseconds) {
        pollfd fd = {output_, POLLIN, 0};
        if (poll(&fd, 1, milliseconds) <= 0)
            return false;
        char buffer[4096];
        ssize_t count = read(output_, buffer, sizeof buffer);
        if (count <= 0)
            return false;
        text_.append(buffer, count);
        return true;
    }
    pid_t pid_ = -1;
    int output_ = -1, stdin_ = -1;
    bool exited_ = false;
    std::string text_;
};

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

TEST(Cubeview, LinkedPtyTakesWritersOneAfterAnotherUntilTheStopByte) {
    harness::TempDir dir;
    std::string link = dir.path() + "/com1";
    Cubeview view({"--link", link, "--until-stop", "--summary", "--timeout", "30"});
    ASSERT_TRUE(waitFor([&] { return exists(link); })) << "no link at " << link;

    // The first writer comes and goes, as the plugin does between two runs.
    int port = open(link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(port, 0);
    termios settings;
    ASSERT_EQ(0, tcgetattr(port, &settings));
    EXPECT_EQ(0u, settings.c_lflag & (ICANON | ECHO)) << "the pty is not in raw mode";
    writeAll(port, join({{kCubeStartByte}, frame(kPatternStar, 2), {0x00, 0x55, 0x7E}}));
    close(port);

    port = open(link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(port, 0);
    writeAll(port, join({frame(kPatternStar, 0),
                         frame(kPatternStar, 3),
                         {kCubeStopByte},
                         frame(kPatternLevels, 5)}));
    close(port);

    EXPECT_EQ(0, view.finish());
    EXPECT_EQ("start at=0\n"
              "frame 1 Star 2/3 lit=7 at=1\n"
              "skipped 3 at=28\n"
              "frame 2 Star 0/3 lit=0 at=31\n"
              "frame 3 Star 3/3 lit=13 at=58\n"
              "stop at=85\n"
              "end stop\n"
              "summary frames=3 bytes=86 skipped=3 rejected=0 start=1 stop=1 unknown=0 "
              "undecided=0 distinct_Star=3 distinct_Levels=0 distinct_NewStar=0 patterns=Star\n",
              view.text());
    EXPECT_FALSE(exists(link)) << "the link outlived cubeview";
}

TEST(Cubeview, ReplacesAnOldLinkAndRemovesItOnSigterm) {
    harness::TempDir dir;
    std::string link = dir.path() + "/com1";
    ASSERT_EQ(0, symlink("/dev/ttyS0", link.c_str()));
    Cubeview view({"--link", link, "--summary"});
    ASSERT_TRUE(waitFor([&] {
        char target[256];
        ssize_t length = readlink(link.c_str(), target, sizeof target);
        return length > 0 && std::string(target, length).find("/dev/pts/") == 0;
    })) << "the old link was not replaced";
    view.signal(SIGTERM);
    EXPECT_EQ(0, view.finish());
    EXPECT_NE(std::string::npos, view.text().find("end signal\nsummary frames=0 ")) << view.text();
    EXPECT_FALSE(exists(link));
}

TEST(Cubeview, DeviceIsSetToTheCubesLineAndReadUntilHangUp) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    std::string slavePath = ptsname(master);
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios settings;
    tcgetattr(slave, &settings);
    cfsetspeed(&settings, B9600);
    settings.c_cflag |= PARENB | CSTOPB;
    tcsetattr(slave, TCSANOW, &settings);

    Cubeview view({"--device", slavePath, "--summary"});
    EXPECT_TRUE(waitFor([&] {
        tcgetattr(slave, &settings);
        return cfgetispeed(&settings) == B19200 && cfgetospeed(&settings) == B19200;
    })) << "cubeview did not set 19200 baud";
    EXPECT_EQ(static_cast<tcflag_t>(CS8), settings.c_cflag & CSIZE);
    EXPECT_EQ(0u, settings.c_cflag & (PARENB | CSTOPB));
    EXPECT_EQ(0u, settings.c_lflag & ICANON);
    close(slave);

    writeAll(master, join({{kCubeStartByte}, frame(kPatternNewStar, 11), {kCubeStopByte}}));
    ASSERT_TRUE(view.waitForText("stop at=28\n")) << view.text();
    close(master); // the device goes away: cubeview must end, not spin

    EXPECT_EQ(0, view.finish());
    EXPECT_NE(std::string::npos,
              view.text().find("frame 1 NewStar 11/15 lit=21 at=1\nstop at=28\nend eof\n"
                               "summary frames=1 bytes=29 "))
        << view.text();
}

TEST(Cubeview, QuietStdinTimesOutAndReportsAMissingStopByte) {
    Cubeview view({"--stdin", "--until-stop", "--timeout", "0.5", "--summary"}, true);
    // A frame cut short, then nothing: it must be settled, not left pending.
    Bytes cut = frame(kPatternLevels, 3);
    cut.resize(9);
    writeAll(view.input(), join({frame(kPatternLevels, 3), cut}));
    EXPECT_EQ(2, view.finish());
    EXPECT_NE(std::string::npos,
              view.text().find("frame 1 Levels 3/5 lit=75 at=0\nskipped 9 at=27\nend timeout\n"
                               "summary frames=1 bytes=36 skipped=9 rejected=0 start=0 stop=0 "))
        << view.text();
}

TEST(Cubeview, RejectedFramesAreCountedAndTheStreamEndsAtEndOfFile) {
    Cubeview view({"--stdin", "--summary"}, true);
    Bytes bad = frame(kPatternStar, 3);
    bad[13] = 0x9F;
    writeAll(view.input(), join({bad, frame(kPatternStar, 1)}));
    view.closeInput();
    EXPECT_EQ(0, view.finish());
    EXPECT_EQ("rejected 1 at=0\n"
              "frame 1 Star 1/3 | NewStar 1/15 lit=1 at=27\n"
              "end eof\n"
              "summary frames=1 bytes=54 skipped=0 rejected=1 start=0 stop=0 unknown=0 "
              "undecided=1 distinct_Star=0 distinct_Levels=0 distinct_NewStar=0 patterns=none\n",
              view.text());
}

TEST(Cubeview, TerminalShowsThePlanesAndRestoresTheCursor) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    Cubeview view({"--stdin"}, true, terminal);
    close(terminal);
    writeAll(view.input(), frame(kPatternStar, 3));
    view.closeInput();
    std::string screen;
    char buffer[4096];
    ssize_t count;
    while ((count = read(master, buffer, sizeof buffer)) > 0) // EIO once cubeview is gone
        screen.append(buffer, count);
    close(master);
    EXPECT_EQ(0, view.finish());
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
            for (size_t at = view.text().find(what); at != std::string::npos;
                 at = view.text().find(what, at + 1))
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
