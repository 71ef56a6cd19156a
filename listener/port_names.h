// How a cube's port is named where a person types or a settings file holds it: on Windows a COM
// port by its number ("3", "COM3"), on Linux a serial device by its path ("/dev/ttyUSB0", a stable
// "/dev/serial/by-id/..." link). Platform-free, so both rules are tested everywhere; each program
// uses the one of its platform.
#pragma once

#include <string>

enum PortStyle {
    kComPorts,    // "COM3"
    kDevicePaths, // "/dev/ttyUSB0"
};

#ifdef _WIN32
static const PortStyle kPlatformPortStyle = kComPorts;
#else
static const PortStyle kPlatformPortStyle = kDevicePaths;
#endif

// The port's name as the listener shows and opens it ("COM3", "/dev/ttyUSB0"), from what was
// typed or saved ("3", "com3", "/dev/ttyUSB0"); false when it names no port of that style.
bool portFromText(PortStyle style, const std::string& text, std::string* port);
// What a mistake's line says the option takes: "a number from 1 to 255", "a serial device's
// path, such as /dev/ttyUSB0".
const char* portExpected(PortStyle style);
// The port a machine without settings uses.
const char* defaultPort(PortStyle style);
// A COM port's number ("COM12" gives 12), 0 for anything else.
int comPortNumber(const std::string& port);
