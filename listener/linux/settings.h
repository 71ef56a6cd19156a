// The Linux listener's settings: $XDG_CONFIG_HOME/lumo/lumolisten.ini (~/.config when it is not
// set) key by key over /etc/lumo/lumolisten.ini, which the package installs for the machine's
// choices; the same section and keys as on Windows.
#pragma once

#include "settings_rules.h"

ListenSettings loadSettings();
