// The cube, through lumolink.dll beside the listener: the same exports, frames and port
// handling as the plugin's. A thread of its own keeps the mode's pace and does every call into
// the library, so a line that stops taking bytes never holds up the tray.
#pragma once

#include <string>

#include "frames.h"

class SoundFeed;

// Loads lumolink.dll from beside the program and binds its exports. False with the reason
// ("Cannot load lumolink.dll", "Cannot load setStar function", ...) when it cannot.
bool loadCubeLibrary(std::string* error);

// Opens the port, sends the start byte and from then on one frame of the mode per delay, made
// from the newest block of `feed`.
void startCube(CubePattern mode, int port, SoundFeed* feed);
void setCubeMode(CubePattern mode);
// The stop byte to the old port and it closed, then the new one opened with the start byte.
void setCubePort(int port);
// Every LED for two seconds, then the music again.
void lightWholeCube();
// The stop byte, the port closed, the thread ended. Waits a few seconds at most.
void stopCube();
