// The settings file's path, made from the path of the plugin's own file. Platform-free so
// the native unit tests can try every length.
#pragma once

#include "module_path.h"

enum { kSettingsPathSize = kPathSize };

// The settings file's name; also the whole path when the plugin's folder cannot be used.
extern const char kSettingsFileName[];

// Turns `path`, which holds the full path of the plugin's file (or an empty string when the
// platform could not name it) in a buffer of kSettingsPathSize characters, into the path of
// the settings file in the same folder: everything up to and including the last backslash,
// then "lumo.ini". Only the backslash separates folders. Never writes past the buffer.
void settings_path_from_module_path(char* path);
