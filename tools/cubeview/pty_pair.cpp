#include "pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

std::string openPtyPair(PtyPair* pair) {
    *pair = PtyPair();
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::string error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0)
            ::close(master);
        return error;
    }
    pair->master = master;
    pair->slavePath = ptsname(master);
    pair->slave = ::open(pair->slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pair->slave < 0) {
        std::string error = "cannot open " + pair->slavePath + ": " + std::strerror(errno);
        closePtyPair(pair);
        return error;
    }
    // Raw: the line carries bytes, not text; no echo, no line editing, no CR translation. The
    // speed is left alone, so a test can see whether a program set it.
    termios settings;
    if (tcgetattr(pair->slave, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(pair->slave, TCSANOW, &settings);
    }
    return "";
}

void closePtyPair(PtyPair* pair) {
    if (pair->slave >= 0)
        ::close(pair->slave);
    if (pair->master >= 0)
        ::close(pair->master);
    *pair = PtyPair();
}
