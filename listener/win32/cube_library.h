// The cube through lumolink.dll beside the listener: the same exports, frames and port handling
// as the plugin's.
#pragma once

#include <string>

#include "cube_link.h"

// Loads lumolink.dll from beside the program and binds its exports. False with the reason
// ("Cannot load lumolink.dll", "Cannot load setStar function", ...) when it cannot.
bool loadCubeLibrary(std::string* error);
// The bound library as the cube's thread drives it; valid once loadCubeLibrary succeeded.
CubeLink* cubeLibrary();
