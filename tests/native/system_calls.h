// The system calls the POSIX link makes for one device, seen and steered by a test: the test
// program alone is linked with -Wl,--wrap= for open, ioctl, write and close, so they come through
// system_calls.cpp first and the shipped code carries no test branch.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace systemcalls {

struct Call {
    std::string what; // "open", "TIOCMBIC DTR RTS", "write 27", "close"
    std::chrono::steady_clock::time_point at;
};

// From now on the calls for this path and its descriptor are noted; an empty path stops it and
// every fault with it.
void watch(const std::string& device);
// Every open of the device fails with `error` after `delayMs`; 0 lets them through again.
void failOpens(int error, int delayMs = 0);
void failNextWrite(int error);
std::vector<Call> calls(); // since watch()
std::vector<std::string> callNames();

} // namespace systemcalls
