// The listener's settings and how a file's keys become them, on every platform: one section
// [lumolisten] with Mode, Port, Device, Network and Universe. A user's own file is read key by
// key over the machine's (where an installer or a package puts the port it was given); a key in
// neither, or one whose value cannot be used, keeps the built-in default. Platform-free.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "modes.h"
#include "port_names.h"

static const char kSettingsSection[] = "lumolisten";

struct ListenSettings {
    ListenModeId mode = kModeLevels;
    std::string port;     // "COM1", "/dev/ttyUSB0"
    std::string device;   // empty: what the machine plays
    bool network = false; // other programs may light the cube over E1.31 and DDP
    int universe = 1;     // the E1.31 universe listened to
};

// The keys, as the files spell them.
static const char kModeKey[] = "Mode";
static const char kPortKey[] = "Port";
static const char kDeviceKey[] = "Device";
static const char kNetworkKey[] = "Network";
static const char kUniverseKey[] = "Universe";

// The settings from `lookup`, which gives a key's text from the first file that has it.
ListenSettings
settingsFrom(PortStyle ports,
             const std::function<std::optional<std::string>(const char* key)>& lookup);

// What a file holds for each, as written back: "Star", "3" (a COM port by its number, as the
// installer writes it) or "/dev/ttyUSB0", "on" or "off".
std::string modeSettingText(ListenModeId mode);
std::string portSettingText(PortStyle ports, const std::string& port);
std::string networkSettingText(bool network);
