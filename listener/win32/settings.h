// The Windows listener's settings files: per user in %APPDATA%\lumo\lumolisten.ini, saved when
// chosen from the menu, over lumolisten.ini beside the program, where the installer writes the
// port it was given and the machine's choices. Both UTF-16, so device names survive.
#pragma once

#include <string>

#include "settings_rules.h"

ListenSettings loadSettings();
// Writes the one key into the user's own file, made if need be. False when it cannot.
bool saveSetting(const char* key, const std::string& value);
