// The cube's link on Linux (cube_link.cpp over serial_posix.cpp), natively, over real
// pseudo-terminals: the slave's path is the device, the master the cube's end of the line. What a
// pty cannot show is injected where the link meets the system (system_calls.h).
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
using cubebytes::framesOfRun;
using cubebytes::operator+;

namespace {

const Bytes kStarFrame = frameFor(kPatternStar, 50);

class PosixLink : public ::testing::Test {
  protected:
    // The next test starts with no port held or wanted.
    void TearDown() override {
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

// Shows Star frames every few milliseconds until the line holds `count` bytes from its last
// start byte on, as the listener's frames do while a port is gone; what it holds from there.
Bytes showUntilRestarted(Pty& pty, size_t count) {
    Bytes line;
    waitUntil([&] {
        cubeLinkShowLevel(kPatternStar, 50);
        line = cubebytes::fromLastStart(pty.bytes());
        return line.size() >= count;
    });
    return line;
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
        << std::hex << "c_cflag " << line.c_cflag;
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u) << std::hex << line.c_iflag;
    EXPECT_EQ(line.c_oflag & OPOST, 0u) << "output is processed";
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
    EXPECT_EQ(cubeLinkShowLevel(kPatternNewStar, 127), 1);
    EXPECT_EQ(cubeLinkShowPlanes(planes), 1);
    EXPECT_EQ(cubeLinkSendChar(0x4E), 1);
    cubeLinkClose();
    EXPECT_EQ(cubeLinkSendChar(0x4C), 0) << "a byte was written after Close";
    Bytes expected = Bytes{0x4C} + kStarFrame + frameFor(kPatternNewStar, 127) +
                     Bytes(drawn.bytes, drawn.bytes + kCubeFrameSize) + Bytes{0x4E};
    EXPECT_EQ(pty.settledBytes(), expected) << hex(pty.bytes());
}

// Two programs writing frames to one cube would garble both. Root's second open gets past
// TIOCEXCL and is refused by the lock; anyone else's open fails at once: EBUSY either way.
TEST_F(PosixLink, ASecondProgramIsRefusedWithEbusyWhileThePortIsHeld) {
    Pty pty;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t second = fork();
    if (second == 0) {
        char byte;
        if (read(go[0], &byte, 1) != 1)
            _exit(200);
        _exit(cubeLinkOpen(pty.slavePath().c_str()) ? 201 : errno);
    }
    ASSERT_EQ(openLink(pty.slavePath()), 1) << std::strerror(reason_);
    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(second, &status, 0), second);
    close(go[0]);
    close(go[1]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EBUSY)
        << (WEXITSTATUS(status) == 201 ? "the second program opened the port too"
                                       : std::strerror(WEXITSTATUS(status)));
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
    for (int call = 0; call < 10; ++call)
        EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);

    Pty pty; // the adapter plugged in, and no open: within a second or two
    pty.linkAt(device_);
    ASSERT_GE(showUntilRestarted(pty, 1 + 27).size(), 1u + 27) << "it never lit";
    EXPECT_GE(framesOfRun(pty.settledBytes(), kStarFrame, false), 1) << hex(pty.bytes());
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
    ASSERT_GE(showUntilRestarted(*pty, 1 + 27).size(), 1u + 27) << "it never came back";
    EXPECT_GE(framesOfRun(pty->settledBytes(), kStarFrame, false), 1) << hex(pty->bytes());
}

// A cube that stops reading: each write gives up within its limit and lets the port go, and once
// the line moves again the cube starts afresh, whatever a cut-short frame left before.
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
    ASSERT_GE(showUntilRestarted(pty, 1 + 2 * 27).size(), 1u + 2 * 27);
    Bytes line = cubebytes::fromLastStart(pty.settledBytes());
    EXPECT_GE(framesOfRun(line, kStarFrame, false), 2) << hex(line);
}

class PosixLinkInjected : public PosixLink {
  protected:
    void SetUp() override {
        pty_.linkAt(device_);
        systemcalls::watch(device_);
    }
    Pty pty_;
};

// What real devices answer an open with. The node is made as udev makes a USB adapter's,
// crw-rw---- root:dialout; root, who runs these tests, is never refused for real.
TEST_F(PosixLinkInjected, EachWayAnOpenIsRefusedIsToldInTheUsersWords) {
    group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "this machine has no group dialout";
    ASSERT_EQ(chown(pty_.slavePath().c_str(), (uid_t)-1, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(pty_.slavePath().c_str(), 0660), 0);
    const struct {
        int injected; // what the open gives
        int told;     // errno once the link has made it one of serial.h's
        std::string reason;
    } cases[] = {
        {EACCES, EACCES, // a user outside the group
         ": only the group dialout may use it; add yourself with sudo usermod -aG dialout "
         "$USER, then log in again"},
        {EBUSY, EBUSY, ": another program is using it"}, // held with TIOCEXCL by another user
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
// so on that edge. A pty has no lines to look at: the calls show they are lowered at once.
TEST_F(PosixLinkInjected, DtrAndRtsAreLoweredRightAfterTheOpenBeforeAnyWrite) {
    ASSERT_EQ(openLink(device_), 1) << std::strerror(reason_);
    EXPECT_EQ(cubeLinkSendChar(0x4C), 1);
    EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
    std::vector<std::string> calls = systemcalls::callNames();
    std::string seen = ::testing::PrintToString(calls);
    ASSERT_GE(calls.size(), 4u) << seen;
    EXPECT_EQ(calls[0], "open") << seen;
    EXPECT_EQ(calls[1], "TIOCMBIC DTR RTS") << seen;
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"write 1", "write 27"}))
        << "not one write per frame: " << seen;
    for (const std::string& call : calls)
        EXPECT_EQ(call.find("TIOCMBIS"), std::string::npos) << seen;
}

// An adapter pulled out mid-run: its tty is hung up and every write fails with EIO (ENXIO from
// some drivers) until it is back.
TEST_F(PosixLinkInjected, AWriteThatFailsLetsThePortGoAndASecondLaterItIsBackWithTheStartByte) {
    for (int error : {EIO, ENXIO}) {
        SCOPED_TRACE(std::strerror(error));
        ASSERT_EQ(openLink(device_), 1) << std::strerror(reason_);
        pty_.clear();
        size_t before = systemcalls::calls().size();
        systemcalls::failNextWrite(error);
        EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
        EXPECT_EQ(cubeLinkSendChar(0x4E), 0) << "the port was kept after a failed write";
        ASSERT_GE(showUntilRestarted(pty_, 1 + 27).size(), 1u + 27) << "it never came back";
        EXPECT_GE(framesOfRun(pty_.settledBytes(), kStarFrame, false), 1) << hex(pty_.bytes());

        std::vector<systemcalls::Call> calls = systemcalls::calls();
        auto let = std::find_if(calls.begin() + (std::ptrdiff_t)before, calls.end(),
                                [](const systemcalls::Call& call) { return call.what == "close"; });
        auto reopened = std::find_if(
            let, calls.end(), [](const systemcalls::Call& call) { return call.what == "open"; });
        ASSERT_NE(reopened, calls.end()) << ::testing::PrintToString(systemcalls::callNames());
        EXPECT_GE(reopened->at - let->at, milliseconds(990)) << "opened again too soon";
        cubeLinkClose();
    }
}

// A Bluetooth serial port whose device is off takes seconds in its open before it fails: tried
// once a second, it would stall the caller each time.
TEST_F(PosixLinkInjected, APortWhoseOpenFailsSlowlyIsNotTriedAgainUntilTheNextOpen) {
    systemcalls::failOpens(EHOSTDOWN, 400);
    EXPECT_EQ(openLink(device_), 0);
    systemcalls::failOpens(0);
    for (int call = 0; call < 30; ++call) {
        EXPECT_EQ(cubeLinkShowLevel(kPatternStar, 50), 1);
        std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_EQ(systemcalls::callNames(), std::vector<std::string>{"open"}) << "tried again";
    EXPECT_EQ(openLink(device_), 1) << "the next open did not try it";
}

} // namespace
