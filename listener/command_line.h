// The listener's command line, for scripts, shortcuts and service units. Options apply to one run
// and are never saved. Platform-free: the arguments arrive as UTF-8, and the port is named in
// the platform's style.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "modes.h"
#include "port_names.h"
#include "settings_rules.h"

struct CommandLine {
    std::optional<ListenModeId> mode;
    std::optional<std::string> port;   // "COM3", "/dev/ttyUSB0"
    std::optional<std::string> device; // a recording device's name as the system shows it
    std::optional<double> seconds;     // stop after this long
    std::optional<int> universe;       // the E1.31 universe, 1 to 63999
    bool network = false;              // let other programs light the cube for this run
    bool list = false;                 // print the ports and recording devices, then stop
};

// Parses the arguments after the program's name. On a mistake returns false and says what was
// wrong in one line, e.g. "unknown option --colour" or "--port takes a number from 1 to 255,
// not 300". Whether a named device exists is for the caller to check: it needs the devices.
bool parseCommandLine(const std::vector<std::string>& args, PortStyle ports, CommandLine* result,
                      std::string* error);

// The settings as this run uses them: what the command line says over what the files say.
ListenSettings forThisRun(ListenSettings settings, const CommandLine& options);

// The line that says a device does not exist and which ones do:
// "there is no recording device named "Mic"; there are: "Monitor of Speakers", "PulseAudio"".
std::string unknownDeviceMessage(const std::string& name, const std::vector<std::string>& devices);
