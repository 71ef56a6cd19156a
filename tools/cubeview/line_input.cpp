#include "line_input.h"

#include "pty_pair.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// "cannot open /dev/ttyUSB0: Permission denied"
static std::string failure(const std::string& what, const std::string& path) {
    return what + (path.empty() ? "" : " " + path) + ": " + std::strerror(errno);
}

LineInput::~LineInput() {
    close();
}

std::string LineInput::openLinkedPty(const std::string& path) {
    PtyPair pair;
    std::string error = openPtyPair(&pair);
    if (!error.empty())
        return error;
    readFd_ = pair.master;
    ownsReadFd_ = true;
    slaveFd_ = pair.slave;
    slavePath_ = pair.slavePath;
    termios settings;
    if (tcgetattr(slaveFd_, &settings) == 0) {
        cfsetspeed(&settings, B19200);
        tcsetattr(slaveFd_, TCSANOW, &settings);
    }

    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        errno = EEXIST;
        return failure("will not replace", path);
    }
    // Linking beside the target and renaming over it replaces an old link in one step, so a
    // program opening the port never finds it missing.
    std::string temporary = path + ".cubeview-" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (symlink(slavePath_.c_str(), temporary.c_str()) != 0)
        return failure("cannot create link", temporary);
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        std::string message = failure("cannot create link", path);
        ::unlink(temporary.c_str());
        return message;
    }
    linkPath_ = path;
    return "";
}

std::string LineInput::openDevice(const std::string& path) {
    // O_NONBLOCK: a modem line without carrier would otherwise block the open itself.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failure("cannot open", path);
    readFd_ = fd;
    ownsReadFd_ = true;
    termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return failure("not a serial device", path);
    cfmakeraw(&settings);
    settings.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B19200);
    cfsetospeed(&settings, B19200);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return failure("cannot set 19200 8N1 on", path);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return "";
}

void LineInput::useStdin() {
    readFd_ = STDIN_FILENO;
    ownsReadFd_ = false;
}

void LineInput::close() {
    if (!linkPath_.empty()) {
        char target[4096];
        ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
        // Someone may have pointed the port elsewhere meanwhile; that link is theirs.
        if (length >= 0 && std::string(target, length) == slavePath_)
            ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    if (ownsReadFd_ && readFd_ >= 0)
        ::close(readFd_);
    slaveFd_ = readFd_ = -1;
    ownsReadFd_ = false;
}
