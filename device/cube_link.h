// What the cube library does, whatever the platform: lumolink.dll's exports on Windows wrap
// these, and the Linux listener links them in. Platform-free; the port itself is serial.h's.
#pragma once

#include "frames.h"

// Opens the device the platform names the port by (serial.h) and holds it until
// cubeLinkClose, opening it again whenever it is lost. 1 when a port is held on return, also
// when one already was; 0 when none could be opened, and the platform's error says why.
int cubeLinkOpen(const char* device);
// Lets the port go and ends the retrying.
void cubeLinkClose();
// Writes one raw byte, outside any frame. 1 when written, 0 when not (also with no port).
int cubeLinkSendChar(unsigned char byte);
// Each writes one frame: the pattern's frame for the level, or the caller's own planes. Always
// 1: a lost frame is not reported, since the next call sends its own frame anyway. These are the
// calls a run makes many times a second, so they are the ones that bring a lost port back, with
// the start byte ahead of the first frame.
int cubeLinkShowLevel(CubePattern pattern, int level);
int cubeLinkShowPlanes(const CubePlanes& planes);
