#include "port_reason.h"

#include <cstdio>

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
