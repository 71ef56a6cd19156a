// The system calls the POSIX link makes for one device, seen and steered by a test. Only the
// test program is linked with -Wl,--wrap= for open, ioctl, write and close, so they pass through
// system_calls.cpp there and the shipped code has no test branch. One thread drives the link.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace systemcalls {

struct Call {
    std::string what; // "open", "TIOCMBIC DTR RTS", "write 27", "close"
    std::chrono::steady_clock::time_point at;
};

// From now on the calls for this path and its descriptor are noted; "" stops it, faults too.
void watch(const std::string& device);
void failOpens(int error, int delayMs = 0); // every open of it fails so, after delayMs; 0: none
void failNextWrite(int error);
const std::vector<Call>& calls();

} // namespace systemcalls
