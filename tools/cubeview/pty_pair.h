// A pseudo-terminal standing in for a serial line: what the virtual cube reads and what the
// tests' cube reads are made the same way.
#pragma once

#include <string>

struct PtyPair {
    int master = -1;       // close-on-exec: a program started later must not hold the line open
    int slave = -1;        // held open, so the master never reports a hang-up between writers
    std::string slavePath; // what a program opens as its serial port
};

// Opens a pair with the slave in raw mode. Returns an error message,
// empty on success; on failure nothing stays open.
std::string openPtyPair(PtyPair* pair);
void closePtyPair(PtyPair* pair);
