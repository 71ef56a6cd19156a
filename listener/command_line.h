// The listener's command line, for scripts and shortcuts. Options apply to one run and are never
// saved. Platform-free: the arguments arrive as UTF-8.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "modes.h"

struct CommandLine {
    std::optional<CubePattern> mode;
    std::optional<int> port;           // 1 to 255
    std::optional<std::string> device; // a recording device's name as Windows shows it
    std::optional<double> seconds;     // stop after this long
};

// Parses the arguments after the program's name. On a mistake returns false and says what was
// wrong in one line, e.g. "unknown option --colour" or "--port takes a number from 1 to 255,
// not 300". Whether a named device exists is for the caller to check: it needs the devices.
bool parseCommandLine(const std::vector<std::string>& args, CommandLine* result,
                      std::string* error);

// The line that says a device does not exist and which ones do:
// "there is no recording device named "Mic"; there are: "Monitor of Speakers", "PulseAudio"".
std::string unknownDeviceMessage(const std::string& name, const std::vector<std::string>& devices);
