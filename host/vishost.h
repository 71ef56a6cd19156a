// The two ways vishost.exe runs a plugin: playing audio through it for a person to watch,
// and a line-by-line script for the end-to-end tests.
#pragma once

#include <string>

#include "vis_host.h"

struct PlayOptions {
    std::string plugin;
    int module = 0;
    std::string wav;     // empty: the built-in test signal
    double seconds = 0;  // 0: the whole file (or the test signal's default length)
    bool autoOk = false; // answer message boxes instead of leaving them to the person
    HostQuirks quirks;
};

// Exit codes of both modes.
enum VishostExit {
    kExitOk = 0,
    kExitInitFailed = 1,
    kExitBadInput = 2, // bad arguments, unreadable audio, a plugin that does not load
};

int runPlay(const PlayOptions& options);
int runScript(const std::string& plugin, const HostQuirks& quirks);
