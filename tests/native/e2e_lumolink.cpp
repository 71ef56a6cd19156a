// lumolink.dll end to end: the build under test under Wine, driven by lumoprobe, with the bytes
// read back off a pseudo-terminal that stands in for the cube's COM port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "harness.h"

using namespace harness;
using cubebytes::frameBytes;
using cubebytes::operator+;

namespace {

// lumoprobe.exe beside the build's shipped lumolink.dll, which it loads by name as the plugin
// does: the program's own folder is searched first.
class ProbeFolder {
  public:
    ProbeFolder() {
        copyFile(build().bin + "/lumoprobe.exe", dir_.file("lumoprobe.exe"));
        copyFile(build().shipped("lumolink.dll"), dir_.file("lumolink.dll"));
    }
    std::string exe() const { return dir_.file("lumoprobe.exe"); }

  private:
    TempDir dir_;
};

class Probe {
  public:
    Probe() : program_(folder_.exe()) {}
    // The export's integer result; fails the test if the probe did not answer.
    int operator()(const std::string& command) {
        WineProgram::Reply reply = program_.call(command);
        EXPECT_TRUE(reply.ok) << command << ": " << reply.value;
        return reply.ok ? std::stoi(reply.value) : INT_MIN;
    }
    WineProgram& program() { return program_; }

  private:
    ProbeFolder folder_;
    WineProgram program_;
};

TEST(SerialLink, OpenConfiguresTheLineFor19200Baud8N1) {
    Pty pty;
    pty.linkAsCom(3);
    Probe probe;
    ASSERT_EQ(probe("Open 3"), 1);
    termios line = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B19200);
    EXPECT_EQ(cfgetispeed(&line), B19200);
    EXPECT_EQ(line.c_cflag & CSIZE, (tcflag_t)CS8);
    EXPECT_FALSE(line.c_cflag & PARENB) << "parity is on";
    EXPECT_FALSE(line.c_cflag & CSTOPB) << "two stop bits";
}

TEST(SerialLink, ASecondOpenKeepsTheFirstPortWhateverTheNumber) {
    Pty first, second;
    first.linkAsCom(3);
    second.linkAsCom(5);
    Probe probe;
    ASSERT_EQ(probe("Open 3"), 1);
    EXPECT_EQ(probe("Open 5"), 1);
    EXPECT_EQ(probe("sendChar 76"), 1);
    EXPECT_EQ(lineAfter(first, 1), Bytes({0x4C})) << "the second Open let go of the first port";
    EXPECT_EQ(probe("Open 3"), 1);
    EXPECT_EQ(probe("sendChar 78"), 1);
    EXPECT_EQ(lineAfter(first, 2), Bytes({0x4C, 0x4E}));
    EXPECT_EQ(second.bytes(), Bytes()) << "a second Open opened its port";
}

TEST(SerialLink, PortsAboveCom9OpenThroughTheDeviceNamespace) {
    Pty pty;
    pty.linkAsCom(12);
    Probe probe;
    ASSERT_EQ(probe("Open 12"), 1);
    EXPECT_EQ(probe("sendChar 76"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4C}));
}

TEST(SerialLink, MissingPortsFailAndHoldNothing) {
    Probe probe;
    for (const char* open : {"Open 7", "Open 0", "Open -1", "Open -2147483648"}) {
        EXPECT_EQ(probe(open), 0) << open;
        EXPECT_EQ(probe("sendChar 76"), 0) << "after " << open;
        EXPECT_EQ(probe("Close"), 1) << "after " << open;
    }
}

TEST(SerialLink, APortThatIsNotATerminalFailsAndALaterOpenSucceeds) {
    std::string link = winePrefix() + "/dosdevices/com4";
    unlink(link.c_str());
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    Probe probe;
    EXPECT_EQ(probe("Open 4"), 0);
    EXPECT_EQ(probe("sendChar 76"), 0) << "Open failed but kept a handle";
    unlink(link.c_str());

    Pty pty;
    pty.linkAsCom(4);
    EXPECT_EQ(probe("Open 4"), 1);
    EXPECT_EQ(probe("sendChar 78"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4E}));
}

// What the plugin reads to tell the user why: the thread's last error right after Open.
TEST(SerialLink, AFailedOpenLeavesItsReasonAsTheLastError) {
    std::string nullLink = winePrefix() + "/dosdevices/com4";
    unlink(nullLink.c_str());
    ASSERT_EQ(symlink("/dev/null", nullLink.c_str()), 0);
    Pty held;
    held.linkAsCom(5);
    struct Case {
        const char* what;
        std::string setup; // a probe command first, if any
        int port;
        std::vector<int> errors; // what the last error may be
    } cases[] = {
        {"no such port", "", 7, {2, 3}},                       // file or path not found
        {"not a terminal", "", 4, {50}},                       // ERROR_NOT_SUPPORTED: refused 8N1
        {"held, as Windows says it", "openfails 5", 5, {5}},   // access denied
        {"held, as Wine may say it", "openfails 32", 5, {32}}, // sharing violation
    };
    for (const Case& c : cases) {
        Probe probe;
        if (!c.setup.empty()) {
            ASSERT_EQ(probe(c.setup), 1) << c.what;
        }
        EXPECT_EQ(probe("Open " + std::to_string(c.port)), 0) << c.what;
        int error = probe("lasterror");
        EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), error), c.errors.end())
            << c.what << ": last error " << error;
    }
    unlink(nullLink.c_str());
}

// Handshake settings another program left on the port would hold back every write.
TEST(SerialLink, OpenSwitchesOffFlowControlLeftOnTheLine) {
    Pty pty;
    pty.linkAsCom(6);
    termios line = pty.slaveSettings();
    line.c_cflag |= CRTSCTS;
    line.c_iflag |= IXON | IXOFF;
    pty.setSlaveSettings(line);
    Probe probe;
    ASSERT_EQ(probe("Open 6"), 1);
    line = pty.slaveSettings();
    EXPECT_FALSE(line.c_cflag & CRTSCTS) << "hardware flow control is still on";
    EXPECT_FALSE(line.c_iflag & IXON) << "XON/XOFF output flow control is still on";
    EXPECT_FALSE(line.c_iflag & IXOFF) << "XON/XOFF input flow control is still on";
    EXPECT_EQ(probe("sendChar 76"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4C}));
}

// What a pty cannot show: raising DTR resets many cubes' controllers the moment the port opens,
// a shared open lets another program garble the frames (Wine ignores the share mode), and
// "abort on error" left on stops every write.
TEST(SerialLink, OpenAsksThePlatformForAnExclusivePortWithDtrRtsAndEveryHandshakeOff) {
    Pty pty;
    pty.linkAsCom(3);
    termios line = pty.slaveSettings();
    line.c_cflag |= CRTSCTS; // so that the settings read back have a handshake to switch off
    line.c_iflag |= IXON | IXOFF;
    pty.setSlaveSettings(line);
    Probe probe;
    ASSERT_EQ(probe("record"), 1);
    // A pty never reports "abort on error"; on Windows a driver or another program may leave
    // it on, and every write then fails after the first receive error until it is cleared.
    ASSERT_EQ(probe("abortonerror"), 1);
    WineProgram::Reply reply = probe.program().call("Open 3");
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.value, "1");
    EXPECT_EQ(reply.events,
              (std::vector<std::string>{
                  "CreateFileA name=\\\\.\\COM3 access=0xc0000000 share=0 creation=3 "
                  "flags=0x40000000",
                  "SetCommTimeouts read=4294967295,0,0 write=0,0",
                  "SetCommState baud=19200 size=8 parity=0 stop=0 dtr=0 rts=0 cts=0 dsr=0 outx=0 "
                  "inx=0 abort=0"}));
}

TEST(SerialLink, SendCharPutsExactlyOneRawByteOnTheLine) {
    Pty pty;
    pty.linkAsCom(2);
    Probe probe;
    ASSERT_EQ(probe("Open 2"), 1);
    for (int byte : {0x4C, 0x4E, 0x00, 0xFF, 0x2A}) {
        pty.clear();
        EXPECT_EQ(probe("sendChar " + std::to_string((signed char)byte)), 1);
        // The next byte marks the end, so nothing extra can hide behind the wait.
        EXPECT_EQ(probe("sendChar 1"), 1);
        EXPECT_EQ(lineAfter(pty, 2), Bytes({(unsigned char)byte, 0x01})) << hex(pty.bytes());
    }
}

TEST(SerialLink, CloseTwiceThenOpenConfiguresTheLineAnew) {
    Pty pty;
    pty.linkAsCom(6);
    Probe probe;
    ASSERT_EQ(probe("Open 6"), 1);
    EXPECT_EQ(probe("Close"), 1);
    EXPECT_EQ(probe("Close"), 1);
    EXPECT_EQ(probe("sendChar 76"), 0) << "writes still go out after Close";

    termios line = pty.slaveSettings();
    cfsetspeed(&line, B9600);
    line.c_cflag |= PARENB;
    int slave = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &line), 0);
    close(slave);
    ASSERT_EQ(probe("Open 6"), 1);
    line = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&line), B19200);
    EXPECT_FALSE(line.c_cflag & PARENB);
    EXPECT_EQ(probe("sendChar 76"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4C}));
}

struct PatternCase {
    const char* exportName;
    CubePattern pattern;
    int level;
    int frame;
};

// The first and last level of every band, and the extremes.
const PatternCase kPatternCases[] = {
    {"setStar", kPatternStar, INT_MIN, 0},
    {"setStar", kPatternStar, -1, 0},
    {"setStar", kPatternStar, 0, 0},
    {"setStar", kPatternStar, 9, 0},
    {"setStar", kPatternStar, 10, 1},
    {"setStar", kPatternStar, 24, 1},
    {"setStar", kPatternStar, 25, 2},
    {"setStar", kPatternStar, 49, 2},
    {"setStar", kPatternStar, 50, 3},
    {"setStar", kPatternStar, 127, 3},
    {"setStar", kPatternStar, INT_MAX, 3},
    {"setLevel", kPatternLevels, INT_MIN, 0},
    {"setLevel", kPatternLevels, -1, 0},
    {"setLevel", kPatternLevels, 0, 0},
    {"setLevel", kPatternLevels, 9, 0},
    {"setLevel", kPatternLevels, 10, 1},
    {"setLevel", kPatternLevels, 24, 1},
    {"setLevel", kPatternLevels, 25, 2},
    {"setLevel", kPatternLevels, 34, 2},
    {"setLevel", kPatternLevels, 35, 3},
    {"setLevel", kPatternLevels, 49, 3},
    {"setLevel", kPatternLevels, 50, 4},
    {"setLevel", kPatternLevels, 74, 4},
    {"setLevel", kPatternLevels, 75, 5},
    {"setLevel", kPatternLevels, 127, 5},
    {"setLevel", kPatternLevels, INT_MAX, 5},
    {"setNewStar", kPatternNewStar, INT_MIN, 0},
    {"setNewStar", kPatternNewStar, -1, 0},
    {"setNewStar", kPatternNewStar, 0, 0},
    {"setNewStar", kPatternNewStar, 6, 0},
    {"setNewStar", kPatternNewStar, 127, 15},
    {"setNewStar", kPatternNewStar, INT_MAX, 15},
};

TEST(Patterns, EachLevelSendsExactlyItsFrame) {
    std::vector<PatternCase> cases(std::begin(kPatternCases), std::end(kPatternCases));
    for (int frame = 1; frame < 16; ++frame) { // every NewStar band: first and last level
        cases.push_back({"setNewStar", kPatternNewStar, 7 * frame, frame});
        cases.push_back({"setNewStar", kPatternNewStar, 7 * frame - 1, frame - 1});
    }
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    for (const PatternCase& c : cases) {
        pty.clear();
        std::string command = std::string(c.exportName) + " " + std::to_string(c.level);
        EXPECT_EQ(probe(command), 1) << command;
        EXPECT_EQ(probe("sendChar 76"), 1);
        Bytes expected = frameBytes(c.pattern, c.frame);
        expected.push_back(0x4C);
        EXPECT_EQ(lineAfter(pty, expected.size()), expected)
            << command << " should send " << patternName(c.pattern) << " frame " << c.frame
            << "; the line carried " << hex(pty.bytes());
    }
}

TEST(Patterns, TheDarkAndTheFullFrameAreExact) {
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    EXPECT_EQ(probe("setLevel 0"), 1);
    EXPECT_EQ(probe("setLevel 127"), 1);
    Bytes dark(27, 0), full(27, 31);
    dark.front() = full.front() = 0x2A;
    dark.back() = full.back() = 0x7E;
    Bytes expected = dark;
    expected.insert(expected.end(), full.begin(), full.end());
    EXPECT_EQ(lineAfter(pty, 54), expected) << hex(pty.bytes());
}

TEST(Patterns, RepeatedLevelsSendRepeatedFrames) {
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    for (const char* command : {"setStar 30", "setLevel 30", "setNewStar 30"}) {
        pty.clear();
        EXPECT_EQ(probe(command), 1);
        EXPECT_EQ(probe(command), 1);
        Bytes line = lineAfter(pty, 54);
        ASSERT_EQ(line.size(), 54u) << command << ": " << hex(line);
        EXPECT_EQ(Bytes(line.begin(), line.begin() + 27), Bytes(line.begin() + 27, line.end()));
    }
}

TEST(Patterns, WithNoPortOpenTheyReturnOneAndSendNothing) {
    Pty pty;
    pty.linkAsCom(9);
    Probe probe;
    for (const char* command : {"setStar 50", "setLevel 127", "setNewStar 105"})
        EXPECT_EQ(probe(command), 1) << command;
    // Whatever reached the line would arrive before this marker.
    ASSERT_EQ(probe("Open 9"), 1);
    EXPECT_EQ(probe("sendChar 76"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4C}));
}

// Calls `command` every few milliseconds until the line holds `count` bytes from its last start
// byte on (the library opens a lost port again at most once a second, with the start byte first,
// and sends none while it stays open), or the wait runs out. What the line carried from that
// start byte on, or nothing.
Bytes callUntilRestarted(Probe& probe, Pty& pty, const std::string& command, size_t count) {
    Bytes fromRestart;
    waitUntil(
        [&] {
            probe(command);
            fromRestart = cubebytes::fromLastStart(pty.bytes());
            return fromRestart.size() >= count;
        },
        std::chrono::seconds(20));
    return fromRestart;
}

// A cube that stops reading; and the same with a driver that will not give up a write even
// when it is cancelled, so the library has to leave the request to the platform.
TEST(Patterns, AStalledLineFailsWritesInTimeAndTheyComeBackOnceTheCubeReads) {
    for (bool cancelsIgnored : {false, true}) {
        SCOPED_TRACE(cancelsIgnored ? "cancels ignored" : "cancels honoured");
        Pty pty;
        pty.linkAsCom(8);
        Probe probe;
        if (cancelsIgnored) {
            ASSERT_EQ(probe("ignorecancels"), 1);
        }
        ASSERT_EQ(probe("Open 8"), 1);
        pty.pauseDraining();
        // Some 54 KB: far more than the pty buffers. Without a bound the probe would wait here
        // until the test reads again, which it does only after the answer.
        probe.program().send("repeat 2000 setStar 50");
        WineProgram::Reply reply = probe.program().receive(std::chrono::seconds(120));
        ASSERT_TRUE(reply.ok) << "the writes never gave up on a line that takes no bytes";
        EXPECT_EQ(reply.value, "1");
        EXPECT_EQ(probe("sendChar 76"), 0) << "a write to a stalled line reported success";
        pty.resumeDraining();

        // Whatever a write cut short left on the line lies before the start byte.
        Bytes frame = frameBytes(kPatternStar, 3);
        Bytes line = callUntilRestarted(probe, pty, "setStar 50", 1 + 3 * 27);
        ASSERT_GE(line.size(), 1u + 3 * 27) << "no frames after the cube read again";
        line = cubebytes::fromLastStart(pty.settledBytes());
        EXPECT_GE(cubebytes::framesOfRun(line, frame, false), 3) << hex(line);
    }
}

TEST(Patterns, APortThatVanishesIsOpenedAgainWithTheStartByteFirstUntilClose) {
    auto pty = std::make_unique<Pty>();
    pty->linkAsCom(10);
    Probe probe;
    ASSERT_EQ(probe("Open 10"), 1);
    EXPECT_EQ(probe("sendChar 76"), 1);
    pty->closeMaster();
    EXPECT_EQ(probe("sendChar 76"), 0);
    for (const char* command : {"setStar 50", "setLevel 50", "setNewStar 50"})
        EXPECT_EQ(probe(command), 1) << command;

    // The cable plugged back in: a new line behind the same port number, and no Open.
    pty = std::make_unique<Pty>();
    pty->linkAsCom(10);
    Bytes frame = frameBytes(kPatternStar, 1);
    ASSERT_GE(callUntilRestarted(probe, *pty, "setStar 10", 28).size(), 28u)
        << "the port never came back: " << hex(pty->bytes());
    // The whole new line: the start byte, then one whole frame per call and nothing else.
    EXPECT_EQ(probe("setStar 10"), 1);
    Bytes line;
    waitUntil([&] { return (line = pty->bytes()).size() % 27 == 1 && line.size() >= 55; });
    EXPECT_GE(cubebytes::framesOfRun(line, frame, false), 2) << hex(line);

    // Close ends the retrying: a port let go now stays closed however long the calls go on.
    EXPECT_EQ(probe("Close"), 1);
    pty->clear();
    for (int call = 0; call < 30; ++call) {
        EXPECT_EQ(probe("setStar 10"), 1);
        std::this_thread::sleep_for(milliseconds(50));
    }
    ASSERT_EQ(probe("Open 10"), 1); // whatever reached the line would arrive before this
    EXPECT_EQ(probe("sendChar 78"), 1);
    EXPECT_EQ(lineAfter(*pty, 1), Bytes({0x4E})) << "frames went out after Close";
}

// A driver that reports a write finished with fewer bytes than asked (a USB adapter going
// away) has not sent the frame: Windows cannot finish removing a device whose handle is kept, so
// the port is let go, and the cube gets a fresh start when it comes back.
TEST(Patterns, AShortWriteLetsThePortGoAndTheLineStartsAfreshWithTheStartByte) {
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    ASSERT_EQ(probe("shortwrite"), 1);
    EXPECT_EQ(probe("setStar 50"), 1);
    EXPECT_EQ(probe("sendChar 78"), 0) << "the port was kept after a short write";

    Bytes frame = frameBytes(kPatternStar, 3);
    Bytes restart = callUntilRestarted(probe, pty, "setStar 50", 1 + 2 * 27);
    ASSERT_GE(restart.size(), 1u + 2 * 27)
        << "no start byte after the short write: " << hex(pty.bytes());
    Bytes line = pty.settledBytes();
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 13), Bytes(frame.begin(), frame.begin() + 13))
        << "the short write: " << hex(line);
    EXPECT_GE(cubebytes::framesOfRun(cubebytes::fromLastStart(line), frame, false), 2) << hex(line);
}

// A write that the platform completes after the library's time limit ran out but before its
// cancel took hold was written: no reopen, so no second start byte.
TEST(Patterns, AWriteThatCompletesJustAfterTheTimeLimitCountsAsWritten) {
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    EXPECT_EQ(probe("sendChar 76"), 1);
    ASSERT_EQ(probe("latewrite 350"), 1);
    EXPECT_EQ(probe("setStar 50"), 1);
    EXPECT_EQ(probe("setStar 50"), 1);
    EXPECT_EQ(probe("sendChar 78"), 1) << "the port was let go after a write that completed";
    Bytes frame = frameBytes(kPatternStar, 3);
    Bytes expected = Bytes{0x4C} + frame + frame + Bytes{0x4E};
    EXPECT_EQ(lineAfter(pty, expected.size()), expected) << hex(pty.bytes());
    EXPECT_EQ(pty.settledBytes(), expected);
}

// Trying such a port again once a second would stall the host every second.
TEST(Patterns, APortThatFailsToOpenSlowlyIsNotTriedAgainUntilTheNextOpen) {
    Pty pty;
    pty.linkAsCom(7);
    Probe probe;
    ASSERT_EQ(probe("openfails 121 800"), 1); // a semaphore time-out, as Bluetooth gives
    EXPECT_EQ(probe("Open 7"), 0);
    ASSERT_EQ(probe("openfails 0"), 1);
    for (int call = 0; call < 30; ++call) {
        EXPECT_EQ(probe("setStar 10"), 1);
        std::this_thread::sleep_for(milliseconds(50));
    }
    ASSERT_EQ(probe("Open 7"), 1); // whatever reached the line would arrive before this
    EXPECT_EQ(probe("sendChar 78"), 1);
    EXPECT_EQ(lineAfter(pty, 1), Bytes({0x4E})) << "the slow port was tried again";
}

// A frame whose rows are dark but those given, each {plane, row, byte}; `rest` for all others.
Bytes planesFrame(std::initializer_list<std::array<int, 3>> rows, unsigned char rest = 0) {
    Bytes frame(kCubeFrameSize, rest);
    frame.front() = 0x2A;
    frame.back() = 0x7E;
    for (const auto& [plane, row, byte] : rows)
        frame[frameOffset(plane, row)] = (unsigned char)byte;
    return frame;
}

std::string setPlanesCommand(const std::array<int, 5>& planes) {
    std::string command = "setPlanes";
    for (int plane : planes)
        command += " " + std::to_string(plane);
    return command;
}

TEST(Planes, TheLineCarriesTheLedsOfEachPlanesBitsAndNothingAbove24) {
    const int full = 0x1FFFFFF;
    const struct {
        const char* what;
        std::array<int, 5> planes;
        Bytes frame;
    } cases[] = {
        {"the first LED of plane 1", {1, 0, 0, 0, 0}, planesFrame({{1, 1, 0x01}})},
        {"the last LED of plane 5", {0, 0, 0, 0, 1 << 24}, planesFrame({{5, 5, 0x10}})},
        {"row 2, column 3 of plane 3", {0, 0, 1 << 8, 0, 0}, planesFrame({{3, 2, 0x08}})},
        {"one LED in each plane",
         {1, 2, 4, 8, 16},
         planesFrame({{1, 1, 1}, {2, 1, 2}, {3, 1, 4}, {4, 1, 8}, {5, 1, 16}})},
        {"plane 2 full",
         {0, full, 0, 0, 0},
         planesFrame({{2, 1, 31}, {2, 2, 31}, {2, 3, 31}, {2, 4, 31}, {2, 5, 31}})},
        {"all lit", {full, full, full, full, full}, planesFrame({}, 31)},
        {"every bit set", {-1, -1, -1, -1, -1}, planesFrame({}, 31)},
        {"the largest int", {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX}, planesFrame({}, 31)},
        {"only bit 25", {1 << 25, 1 << 25, 1 << 25, 1 << 25, 1 << 25}, planesFrame({})},
        {"only the sign bit", {INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN}, planesFrame({})},
    };
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    for (const auto& c : cases) {
        pty.clear();
        EXPECT_EQ(probe(setPlanesCommand(c.planes)), 1) << c.what;
        EXPECT_EQ(probe("sendChar 76"), 1);
        Bytes expected = c.frame + Bytes{0x4C};
        EXPECT_EQ(lineAfter(pty, expected.size()), expected)
            << c.what << ": the line carried " << hex(pty.bytes());
    }
}

TEST(Planes, APortThatVanishesIsOpenedAgainWithTheStartByteFirst) {
    auto pty = std::make_unique<Pty>();
    pty->linkAsCom(10);
    Probe probe;
    ASSERT_EQ(probe("Open 10"), 1);
    pty->closeMaster();
    const std::array<int, 5> planes = {1, 2, 4, 8, 16};
    EXPECT_EQ(probe(setPlanesCommand(planes)), 1) << "a write to a lost port";

    pty = std::make_unique<Pty>();
    pty->linkAsCom(10);
    Bytes frame = planesFrame({{1, 1, 1}, {2, 1, 2}, {3, 1, 4}, {4, 1, 8}, {5, 1, 16}});
    Bytes line = callUntilRestarted(probe, *pty, setPlanesCommand(planes), 1 + 27);
    ASSERT_GE(line.size(), 1u + 27) << "the port never came back: " << hex(pty->bytes());
    EXPECT_EQ(Bytes(line.begin(), line.begin() + 28), Bytes{0x4C} + frame) << hex(line);
}

TEST(Resources, EveryWriteReleasesItsEvent) {
    Pty pty;
    pty.linkAsCom(8);
    Probe probe;
    ASSERT_EQ(probe("Open 8"), 1);
    int before = probe("eventslot");
    EXPECT_EQ(probe("repeat 300 setNewStar 60"), 1);
    EXPECT_EQ(probe("repeat 300 sendChar 76"), 1);
    EXPECT_EQ(probe("eventslot"), before) << "writes leave events behind";
    // The measurement itself must be able to see a leak.
    EXPECT_EQ(probe("leak"), 0);
    EXPECT_NE(probe("eventslot"), before) << "eventslot cannot see a leaked event";
}

TEST(Leftovers, ExportedAndHarmless) {
    Probe probe;
    EXPECT_EQ(probe("LumolinkOpen 7"), 42);
    EXPECT_EQ(probe("nLumolink"), 0);
}

} // namespace
