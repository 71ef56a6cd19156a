#include "system_calls.h"

#include <fcntl.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" ssize_t __real_write(int fd, const void* data, size_t size);
extern "C" int __real_close(int fd);

namespace systemcalls {

static std::string watched;
static int watchedFd = -1;
static int openError = 0, openDelayMs = 0, writeError = 0;
static std::vector<Call> noted;

static void note(const std::string& what) {
    noted.push_back({what, std::chrono::steady_clock::now()});
}

void watch(const std::string& device) {
    watched = device;
    watchedFd = -1;
    openError = openDelayMs = writeError = 0;
    noted.clear();
}

void failOpens(int error, int delayMs) {
    openError = error;
    openDelayMs = delayMs;
}

void failNextWrite(int error) {
    writeError = error;
}

const std::vector<Call>& calls() {
    return noted;
}

} // namespace systemcalls

using namespace systemcalls;

extern "C" int __wrap_open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    if (watched.empty() || watched != path)
        return __real_open(path, flags, mode);
    note("open");
    if (openError != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(openDelayMs));
        errno = openError;
        return -1;
    }
    return watchedFd = __real_open(path, flags, mode);
}

// Only the calls that change the modem lines are noted, with the lines they change.
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list rest;
    va_start(rest, request);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    if (fd >= 0 && fd == watchedFd && (request == TIOCMBIC || request == TIOCMBIS)) {
        int lines = *static_cast<int*>(argument);
        note(std::string(request == TIOCMBIC ? "TIOCMBIC" : "TIOCMBIS") +
             (lines & TIOCM_DTR ? " DTR" : "") + (lines & TIOCM_RTS ? " RTS" : ""));
    }
    return __real_ioctl(fd, request, argument);
}

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t size) {
    if (fd >= 0 && fd == watchedFd) {
        note("write " + std::to_string(size));
        if (writeError != 0) {
            errno = writeError;
            writeError = 0;
            return -1;
        }
    }
    return __real_write(fd, data, size);
}

extern "C" int __wrap_close(int fd) {
    if (fd >= 0 && fd == watchedFd) {
        note("close");
        watchedFd = -1;
    }
    return __real_close(fd);
}
