// The listener's settings: per user in %APPDATA%\lumo\lumolisten.ini, saved when chosen from the
// menu. A user without a file of their own (or without a key in it) starts from lumolisten.ini
// beside the program, where an installer writes the port it was given, else from COM1, Levels
// and what this PC plays.
#pragma once

#include <string>

#include "frames.h"

struct ListenSettings {
    CubePattern mode = kPatternLevels;
    int port = 1;
    std::string device; // empty: what this PC plays
};

ListenSettings loadSettings();
// Each writes its one key into the user's own file, made if need be. False when it cannot.
bool saveMode(CubePattern mode);
bool savePort(int port);
bool saveDevice(const std::string& device);
