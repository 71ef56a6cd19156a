#include "port_reason.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

struct OpenFailure {
    unsigned long error;
    const char* reason;
};

// Why a port did not open, from the cube library's last error. Anything else is told by number.
static const OpenFailure kOpenFailures[] = {
    {2, "there is no such port"},                     // ERROR_FILE_NOT_FOUND: no such device
    {3, "there is no such port"},                     // ERROR_PATH_NOT_FOUND: likewise
    {5, "another program is using it"},               // ERROR_ACCESS_DENIED: Windows, held
    {32, "another program is using it"},              // ERROR_SHARING_VIOLATION: Wine, held
    {50, "it is not a serial port the cube can use"}, // ERROR_NOT_SUPPORTED: refused 19200 8N1
};

void port_open_failure_text(char* text, std::size_t size, int port, unsigned long error) {
    if (size == 0)
        return;
    for (const OpenFailure& failure : kOpenFailures) {
        if (failure.error == error) {
            std::snprintf(text, size, "Cannot open COM%d: %s", port, failure.reason);
            return;
        }
    }
    std::snprintf(text, size, "Cannot open COM%d (error %lu)", port, error);
}

bool port_error_is_in_use(unsigned long error) {
    return error == 5 || error == 32;
}

struct PathFailure {
    int error;
    const char* reason;
};

// Why a device did not open, from the errno the cube's link has already made one of these.
static const PathFailure kPathFailures[] = {
    {ENOENT, "there is no such port"},                    // no device there, or a dangling link
    {EBUSY, "another program is using it"},               // held exclusively or locked
    {ENOTTY, "it is not a serial port the cube can use"}, // not a terminal, or refused 19200 8N1
};

void port_path_failure_text(char* text, std::size_t size, const char* path, int error,
                            const char* group) {
    if (size == 0)
        return;
    for (const PathFailure& failure : kPathFailures) {
        if (failure.error == error) {
            std::snprintf(text, size, "Cannot open %s: %s", path, failure.reason);
            return;
        }
    }
    if (error == EACCES && group != nullptr && group[0] != '\0')
        // A new group reaches a user's programs only with a new login.
        std::snprintf(text, size,
                      "Cannot open %s: only the group %s may use it; add yourself with sudo "
                      "usermod -aG %s $USER, then log in again",
                      path, group, group);
    else if (error == EACCES)
        std::snprintf(text, size, "Cannot open %s: you may not open it", path);
    else
        std::snprintf(text, size, "Cannot open %s (error %d: %s)", path, error,
                      std::strerror(error));
}

bool port_errno_is_in_use(int error) {
    return error == EBUSY;
}
