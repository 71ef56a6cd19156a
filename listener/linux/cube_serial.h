// The cube on Linux: the cube library's link built into the listener, on a serial device by
// path, with the same frames, exclusive hold and reopening as lumolink.dll on Windows.
#pragma once

#include "cube_link.h"

CubeLink* serialCube();
