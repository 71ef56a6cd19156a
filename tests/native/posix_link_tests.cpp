// The cube's link on Linux (cube_link.cpp over serial_posix.cpp), natively, over pseudo-terminals:
// the slave's path is the device, the master the cube's end of the line. What a pty cannot show
// is injected where the link meets the system (system_calls.h).
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cube_link.h"
#include "harness.h"
#include "port_reason.h"
#include "serial.h"
#include "serial_ports.h"
#include "system_calls.h"

using namespace harness;
using cubebytes::frameFor;
using cubebytes::operator+;

namespace {

const Bytes kStarFrame = frameFor(kPatternStar, 50);

class PosixLink : public ::testing::Test {
  protected:
    void TearDown() override { // the next test starts with no port held or wanted
        cubeLinkClose();
        systemcalls::watch("");
    }
    int openLink(const std::string& device) {
        int opened = cubeLinkOpen(device.c_str());
        reason_ = errno;
        return opened;
    }

    TempDir dir_;
    std::string device_ = dir_.file("cube"); // where the cube's adapter shows up
    int reason_ = 0;                         // errno right after the latest open
};

// Shows frames every few milliseconds, as a run does while its port is gone, until the start
// byte and a frame arrive; from the start byte on the line must hold whole frames only.
testing::AssertionResult comesBackWithTheStartByte(Pty& pty) {
    bool back = waitUntil([&] {
        cubeLinkShowLevel(kPatternStar, 50);
        return cubebytes::fromLastStart(pty.bytes()).size() >= 1 + 27;
    });
    Bytes line = cubebytes::fromLastStart(pty.settledBytes());
    if (back && cubebytes::framesOfRun(line, kStarFrame, false) >= 1)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << (back ? "" : "never came back: ") << hex(pty.bytes());
}

TEST_F(PosixLink, OpenSetsRaw19200Baud8N1WithoutHandshakeOrHangUpOnClose) {
    Pty pty;
    termios line = pty.slaveSettings(); // as another program may leave the port
    cfsetspeed(&line, B9600);
    line.c_cflag |= PARENB | CSTOPB | CRTSCTS | HUPCL;
    line.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    line.c_oflag |= OPOST;
    line.c_lflag |= ICANON | ECHO;
    pty.setSlaveSettings(line);
    ASSERT_EQ(openLink(pty.slavePath()), 1) << std::strerror(reason_);
    line = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B19200);
    EXPECT_EQ(cfgetispeed(&line), B19200);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL | CLOCAL | CREAD),
              (tcflag_t)(CS8 | CLOCAL | CREAD))
        << std::hex << line.c_cflag;
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u) << std::hex << line.c_iflag;
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u) << std::hex << line.c_lflag;
}

TEST_F(PosixLink, TheLineCarriesTheStartByteWholeFramesAndTheStopByteBeforeClose) {
    Pty pty;
    ASSERT_EQ(openLink(pty.slavePath()), 1) << std::strerror(reason_);
    CubePlanes planes = {{1, 2, 4, 8, 16}};
    CubeFrame drawn;
    buildPlanesFrame(planes, &drawn);
    EXPECT_EQ(cubeLinkSendChar(0x4C), 1);
    EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
    EXPECT_EQ(cubeLinkShowPlanes(planes), 1);
    EXPECT_EQ(cubeLinkSendChar(0x4E), 1);
    cubeLinkClose();
    EXPECT_EQ(cubeLinkSendChar(0x4C), 0) << "a byte was written after Close";
    Bytes expected = Bytes{0x4C} + kStarFrame + Bytes(drawn.bytes, drawn.bytes + 27) + Bytes{0x4E};
    EXPECT_EQ(pty.settledBytes(), expected) << hex(pty.bytes());
}

// Root's second open gets past TIOCEXCL and is refused by the lock; anyone else's open fails at
// once: EBUSY either way.
TEST_F(PosixLink, ASecondProgramIsRefusedWithEbusyWhileThePortIsHeld) {
    Pty pty;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t second = fork();
    if (second == 0) {
        char byte;
        _exit(read(go[0], &byte, 1) != 1              ? 200
              : cubeLinkOpen(pty.slavePath().c_str()) ? 201
                                                      : errno);
    }
    ASSERT_EQ(openLink(pty.slavePath()), 1) << std::strerror(reason_);
    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(second, &status, 0), second);
    close(go[0]);
    close(go[1]);
    EXPECT_EQ(WEXITSTATUS(status), EBUSY) << (WEXITSTATUS(status) == 201 ? "it opened too" : "");
    EXPECT_EQ(cubeLinkSendChar(0x4C), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4C})) << "the first program lost its line";
}

TEST_F(PosixLink, AFileThatIsNoTerminalIsRefusedAsNoSerialPortTheCubeCanUse) {
    writeFile(device_, "");
    for (const std::string& device : {std::string("/dev/null"), device_}) {
        EXPECT_EQ(openLink(device), 0) << device;
        EXPECT_EQ(reason_, ENOTTY) << device << ": " << std::strerror(reason_);
    }
}

TEST_F(PosixLink, APortMissingAtTheStartLightsWithTheStartByteOnceItsLinkAppears) {
    EXPECT_EQ(openLink(device_), 0);
    EXPECT_EQ(reason_, ENOENT) << std::strerror(reason_);
    ASSERT_EQ(symlink("/dev/ttyUSB-unplugged", device_.c_str()), 0); // a by-id link left behind
    EXPECT_EQ(openLink(device_), 0);
    EXPECT_EQ(reason_, ENOENT) << std::strerror(reason_);
    Pty pty; // the adapter plugged in, and no open
    pty.linkAt(device_);
    EXPECT_TRUE(comesBackWithTheStartByte(pty));
}

TEST_F(PosixLink, ACablePulledAndPluggedBackInIsOpenedAgainWithTheStartByteFirst) {
    auto pty = std::make_unique<Pty>();
    pty->linkAt(device_);
    ASSERT_EQ(openLink(device_), 1) << std::strerror(reason_);
    pty->closeMaster(); // writes fail with EIO, poll says POLLHUP
    EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
    EXPECT_EQ(cubeLinkSendChar(0x4E), 0) << "the port was kept after its line went away";
    pty = std::make_unique<Pty>(); // a new line behind the same path
    pty->linkAt(device_);
    EXPECT_TRUE(comesBackWithTheStartByte(*pty));
}

// A cube that stops reading: writes give up within their limit and let the port go, and the
// cube starts afresh once the line moves again, whatever a torn frame left before.
TEST_F(PosixLink, AStalledLineFailsWritesInTimeAndTheLinkComesBackWithTheStartByte) {
    Pty pty;
    ASSERT_EQ(openLink(pty.slavePath()), 1) << std::strerror(reason_);
    pty.pauseDraining();
    int frames = 0;
    auto longest = std::chrono::steady_clock::duration::zero();
    for (bool written = true; written && frames < 100000; ++frames) {
        auto started = std::chrono::steady_clock::now();
        written = sendFrame(kStarFrame.data(), kCubeFrameSize) == 1;
        longest = std::max(longest, std::chrono::steady_clock::now() - started);
    }
    EXPECT_LT(frames, 100000) << "writes to a line that takes nothing never failed";
    EXPECT_LT(longest, std::chrono::seconds(5)) << "a write waited on a stalled line";
    pty.resumeDraining();
    EXPECT_TRUE(comesBackWithTheStartByte(pty));
}

class PosixLinkInjected : public PosixLink {
  protected:
    void SetUp() override {
        pty_.linkAt(device_);
        systemcalls::watch(device_);
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> names;
        for (const systemcalls::Call& call : systemcalls::calls())
            names.push_back(call.what);
        return names;
    }
    Pty pty_;
};

// Root, who runs these tests, is never refused for real. The node is as udev makes a USB
// adapter's: crw-rw---- root dialout.
TEST_F(PosixLinkInjected, EachWayAnOpenIsRefusedIsToldInTheUsersWords) {
    group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "this machine has no group dialout";
    ASSERT_EQ(chown(pty_.slavePath().c_str(), (uid_t)-1, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(pty_.slavePath().c_str(), 0660), 0);
    const struct {
        int injected, told; // the open's errno, and the link's
        std::string reason;
    } cases[] = {
        {EACCES, EACCES, // a user outside the group
         ": only the group dialout may use it; add yourself with sudo usermod -aG dialout "
         "$USER, then log in again"},
        {EBUSY, EBUSY, ": another program is using it"}, // another user's program, TIOCEXCL
        {ENXIO, ENOENT, ": there is no such port"},      // a node that outlived its adapter
        {ENODEV, ENOENT, ": there is no such port"},     // likewise, from other drivers
        {EIO, EIO, " (error 5: Input/output error)"},    // a ttyS with no UART behind it
    };
    for (const auto& c : cases) {
        systemcalls::failOpens(c.injected);
        EXPECT_EQ(openLink(device_), 0);
        EXPECT_EQ(reason_, c.told)
            << std::strerror(c.injected) << " came as " << std::strerror(reason_);
        char text[256];
        port_path_failure_text(text, sizeof text, device_.c_str(), reason_,
                               deviceGroup(device_).c_str());
        EXPECT_EQ(text, "Cannot open " + device_ + c.reason);
    }
}

// A USB adapter's open raises DTR and RTS, and boards that reset on DTR (Arduino-like ones) do
// so on that edge: they must come down at once. A pty has no lines: the calls show it.
TEST_F(PosixLinkInjected, DtrAndRtsAreLoweredRightAfterTheOpenBeforeAnyWrite) {
    ASSERT_EQ(openLink(device_), 1) << std::strerror(reason_);
    EXPECT_EQ(cubeLinkSendChar(0x4C), 1);
    EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
    std::vector<std::string> seen = calls();
    ASSERT_GE(seen.size(), 4u) << testing::PrintToString(seen);
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 2),
              (std::vector<std::string>{"open", "TIOCMBIC DTR RTS"}))
        << testing::PrintToString(seen);
    EXPECT_EQ(std::vector<std::string>(seen.end() - 2, seen.end()),
              (std::vector<std::string>{"write 1", "write 27"}))
        << "not one write a frame: " << testing::PrintToString(seen);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const std::string& call) { return call.rfind("TIOCMBIS", 0) == 0; }),
              0)
        << "a line was raised: " << testing::PrintToString(seen);
}

// An adapter pulled out mid-run: its tty is hung up and every write fails with EIO (ENXIO from
// some drivers) until it is back.
TEST_F(PosixLinkInjected, AWriteThatFailsLetsThePortGoAndASecondLaterItIsBackWithTheStartByte) {
    for (int error : {EIO, ENXIO}) {
        SCOPED_TRACE(std::strerror(error));
        ASSERT_EQ(openLink(device_), 1) << std::strerror(reason_);
        pty_.clear();
        size_t before = calls().size();
        systemcalls::failNextWrite(error);
        EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
        EXPECT_EQ(cubeLinkSendChar(0x4E), 0) << "the port was kept after a failed write";
        EXPECT_TRUE(comesBackWithTheStartByte(pty_));
        std::vector<systemcalls::Call> after(systemcalls::calls().begin() + (long)before,
                                             systemcalls::calls().end());
        auto letGo =
            std::find_if(after.begin(), after.end(), [](auto& c) { return c.what == "close"; });
        auto back = std::find_if(letGo, after.end(), [](auto& c) { return c.what == "open"; });
        ASSERT_NE(back, after.end()) << testing::PrintToString(calls());
        EXPECT_GE(back->at - letGo->at, milliseconds(990)) << "opened again too soon";
        cubeLinkClose();
    }
}

// A Bluetooth serial port whose device is off takes seconds to fail its open: tried once a
// second, it would stall the caller each time.
TEST_F(PosixLinkInjected, APortWhoseOpenFailsSlowlyIsNotTriedAgainUntilTheNextOpen) {
    systemcalls::failOpens(EHOSTDOWN, 400);
    EXPECT_EQ(openLink(device_), 0);
    systemcalls::failOpens(0);
    for (int call = 0; call < 30; ++call) {
        EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
        std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_EQ(calls(), std::vector<std::string>{"open"}) << "it was tried again";
    EXPECT_EQ(openLink(device_), 1) << "the next open did not try it";
}

} // namespace
