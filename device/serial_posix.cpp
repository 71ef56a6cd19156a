// The cube's serial link on Linux and other POSIX systems: a tty opened by path, raw 19200 8N1,
// held exclusively, each write waited for with poll within a limit.
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "frames.h"

enum {
    // As on Windows (serial_win32.cpp): a cube plugged back in lights within a second, a
    // missing port costs the caller nothing, and no call waits on the line for long.
    kReopenIntervalMs = 1000,
    kWriteLimitMs = 300,
    kSlowOpenMs = 300,
    // The longest write: the start byte with a frame behind it, after the port came back.
    kLongestWrite = 1 + kCubeFrameSize,
};

// -1 while no port is open.
static int portFd = -1;

// The port the caller's run wants, from serialOpen (whether or not it opened) to serialClose.
// While it is wanted and not open, frame writes open it again.
static bool portWanted = false;
static char wantedDevice[kSerialDeviceNameSize];
// nowMs() at the end of the last try, or of letting go.
static unsigned long long lastOpenAttempt = 0;

static unsigned long long nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long long)now.tv_sec * 1000 + (unsigned long long)now.tv_nsec / 1000000;
}

// Opening a tty raises DTR and RTS whenever its speed is not B0, and so does setting a speed on
// a line left at B0; many cubes' controllers reset when DTR rises. A pseudo-terminal has no
// modem lines and refuses the call, which is no failure.
static bool clearModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    return ioctl(fd, TIOCMBIC, &lines) == 0 || errno == ENOTTY || errno == EINVAL;
}

// Raw bytes at 19200 8N1. The cube drives no handshake line and sends no XOFF: left on by another
// program, any handshake would hold back every write for good. Without HUPCL a close leaves the
// lines alone, as on Windows.
static bool setLine(int fd) {
    termios line;
    if (tcgetattr(fd, &line) != 0)
        return false;
    cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (cfsetispeed(&line, B19200) != 0 || cfsetospeed(&line, B19200) != 0 ||
        tcsetattr(fd, TCSANOW, &line) != 0)
        return false;
    // tcsetattr succeeds when any one of the settings took.
    termios taken;
    return tcgetattr(fd, &taken) == 0 && cfgetospeed(&taken) == B19200 &&
           (taken.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) == CS8;
}

static int failed(int fd, int reason) {
    if (fd >= 0)
        close(fd);
    errno = reason;
    return 0;
}

// One try at opening and configuring the port; on failure errno says why, as serial.h lists.
static int tryOpen(const char* device) {
    // Non-blocking, so that the open never waits for a carrier and writes never wait unbounded.
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) // ENODEV, ENXIO: a node whose device has gone
        return failed(-1, errno == ENODEV || errno == ENXIO ? ENOENT : errno);
    if (!clearModemLines(fd))
        return failed(fd, errno);
    // Not shared: two programs writing frames to one cube would garble both. TIOCEXCL makes
    // others' opens fail with EBUSY, except root's; the lock holds against root too and settles
    // two programs opening at the same moment.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return failed(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    if (ioctl(fd, TIOCEXCL) != 0)
        return failed(fd, ENOTTY);
    int reason = !setLine(fd) ? ENOTTY : !clearModemLines(fd) ? errno : 0;
    if (reason != 0) {
        ioctl(fd, TIOCNXCL);
        return failed(fd, reason);
    }
    portFd = fd;
    return 1;
}

static int openPort() {
    unsigned long long started = nowMs();
    int opened = tryOpen(wantedDevice);
    int reason = errno;
    lastOpenAttempt = nowMs();
    // A try that failed this slowly (a Bluetooth port trying to reach a device that is off can
    // take seconds to give up) would stall the caller as long each time: it is not tried again
    // until the next serialOpen.
    if (!opened && lastOpenAttempt - started >= kSlowOpenMs)
        portWanted = false;
    errno = reason; // for the caller, to tell the user
    return opened;
}

int serialOpen(const char* device) {
    if (portFd >= 0)
        return 1;
    size_t length = strlen(device);
    if (length >= kSerialDeviceNameSize) {
        portWanted = false;
        errno = ENAMETOOLONG;
        return 0;
    }
    portWanted = true;
    memcpy(wantedDevice, device, length + 1);
    return openPort();
}

// A tty's close waits for whatever is still queued, up to 30 s on a serial port whose line has
// stopped: queued bytes get `patienceMs` to go out, and only what is left then is dropped (a
// flush with nothing queued would still cost a pseudo-terminal's reader the bytes it has not
// read yet). The exclusive hold belongs to the tty rather than to our descriptor, so it is
// handed back first: a tty that outlives our close (another program still has it open) would
// refuse everyone else.
static void letPortGoAfter(int patienceMs) {
    unsigned long long deadline = nowMs() + (unsigned long long)patienceMs;
    int queued = 0;
    bool counted = false;
    while ((counted = ioctl(portFd, TIOCOUTQ, &queued) == 0) && queued > 0 && nowMs() < deadline)
        poll(NULL, 0, 5);
    if (!counted || queued > 0)
        tcflush(portFd, TCOFLUSH);
    ioctl(portFd, TIOCNXCL);
    close(portFd);
    portFd = -1;
    lastOpenAttempt = nowMs();
}

void serialClose() {
    portWanted = false;
    if (portFd >= 0)
        letPortGoAfter(kWriteLimitMs); // the stop byte the caller just wrote is still going out
}

enum WriteOutcome {
    kWritten,
    kNotStarted, // nothing reached the port: no port, or more bytes than a write may carry
    kLineFailed, // the port refused the bytes or did not take them in time
};

// The bytes in one write; should the driver take only some of them, the rest as soon as it has
// room, all within the time limit. EIO, ENXIO, POLLHUP and POLLERR mean the device has gone (an
// adapter unplugged): its descriptor never works again, even once the adapter is back.
static WriteOutcome writeOnce(const unsigned char* data, int length) {
    if (portFd < 0 || length < 0 || length > kLongestWrite)
        return kNotStarted;
    unsigned long long deadline = nowMs() + kWriteLimitMs;
    int done = 0;
    while (done < length) {
        ssize_t count = write(portFd, data + done, (size_t)(length - done));
        if (count > 0) {
            done += (int)count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return kLineFailed;
        unsigned long long now = nowMs();
        pollfd writable = {portFd, POLLOUT, 0};
        int ready = now < deadline ? poll(&writable, 1, (int)(deadline - now)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            // The line stopped taking bytes: what it holds of this write would reach the cube
            // later as a torn frame.
            tcflush(portFd, TCOFLUSH);
            return kLineFailed;
        }
        if (ready < 0 || (writable.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return kLineFailed;
    }
    return kWritten;
}

int sendBytes(const unsigned char* data, int length) {
    WriteOutcome outcome = writeOnce(data, length);
    if (outcome == kLineFailed)
        letPortGoAfter(0); // what the line did not take in time is not worth waiting for
    return outcome == kWritten ? 1 : 0;
}

// Asked only while no port is open.
static bool reopenDue() {
    return portWanted && nowMs() - lastOpenAttempt >= kReopenIntervalMs;
}

int sendFrame(const unsigned char* frame, int length) {
    if (portFd >= 0)
        return sendBytes(frame, length);
    if (!reopenDue() || length > kCubeFrameSize || !openPort())
        return 0;
    // The cube starts afresh when its line comes back: the start byte goes ahead of the frame,
    // in the same write, so the call waits once.
    unsigned char restart[kLongestWrite];
    restart[0] = kCubeStartByte;
    memcpy(restart + 1, frame, (size_t)length);
    return sendBytes(restart, 1 + length);
}
