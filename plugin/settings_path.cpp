#include "settings_path.h"

#include <string.h>

const char kSettingsFileName[] = "lumo.ini";

void settings_path_from_module_path(char* path) {
    // A folder too long for the file name to follow it, or a plugin file the platform could
    // not name, leaves the bare file name: the profile functions then resolve it in the
    // Windows folder, just as for a plugin path without any folder. The settings are still
    // read and written, in a place the user can find, and nothing is cut short or overrun.
    if (!path_beside(path, kSettingsFileName))
        memcpy(path, kSettingsFileName, sizeof kSettingsFileName);
}
