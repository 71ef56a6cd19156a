#include "system_calls.h"

#include <fcntl.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" ssize_t __real_write(int fd, const void* data, size_t size);
extern "C" int __real_close(int fd);

namespace systemcalls {

static std::mutex mutex;
static std::string watched;
static int watchedFd = -1;
static int openError = 0;
static int openDelayMs = 0;
static int writeError = 0;
static std::vector<Call> noted;

static void note(const std::string& what) {
    noted.push_back({what, std::chrono::steady_clock::now()});
}

void watch(const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex);
    watched = device;
    watchedFd = -1;
    openError = openDelayMs = writeError = 0;
    noted.clear();
}

void failOpens(int error, int delayMs) {
    std::lock_guard<std::mutex> lock(mutex);
    openError = error;
    openDelayMs = delayMs;
}

void failNextWrite(int error) {
    std::lock_guard<std::mutex> lock(mutex);
    writeError = error;
}

std::vector<Call> calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return noted;
}

std::vector<std::string> callNames() {
    std::vector<std::string> names;
    for (const Call& call : calls())
        names.push_back(call.what);
    return names;
}

static std::string ioctlName(unsigned long request, void* argument) {
    if (request == TIOCMBIC || request == TIOCMBIS) {
        int lines = *static_cast<int*>(argument);
        return std::string(request == TIOCMBIC ? "TIOCMBIC" : "TIOCMBIS") +
               (lines & TIOCM_DTR ? " DTR" : "") + (lines & TIOCM_RTS ? " RTS" : "");
    }
    if (request == TIOCEXCL)
        return "TIOCEXCL";
    if (request == TIOCNXCL)
        return "TIOCNXCL";
    if (request == TIOCOUTQ)
        return "TIOCOUTQ";
    return "ioctl " + std::to_string(request);
}

} // namespace systemcalls

using namespace systemcalls;

extern "C" int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (watched.empty() || watched != path) {
        lock.unlock();
        return __real_open(path, flags, mode);
    }
    note("open");
    if (openError != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(openDelayMs));
        errno = openError;
        return -1;
    }
    watchedFd = __real_open(path, flags, mode);
    return watchedFd;
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list rest;
    va_start(rest, request);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd >= 0 && fd == watchedFd)
            note(ioctlName(request, argument));
    }
    return __real_ioctl(fd, request, argument);
}

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t size) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd >= 0 && fd == watchedFd) {
            note("write " + std::to_string(size));
            if (writeError != 0) {
                errno = writeError;
                writeError = 0;
                return -1;
            }
        }
    }
    return __real_write(fd, data, size);
}

extern "C" int __wrap_close(int fd) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd >= 0 && fd == watchedFd) {
            note("close");
            watchedFd = -1;
        }
    }
    return __real_close(fd);
}
