// The cube's thread: it opens the port, sends the start byte, then one frame of the mode per
// delay, made from the newest sound, and at the end the stop byte. Everything it asks of the
// port goes through a CubeLink, so a line that stops taking bytes never holds up anything else.
// Platform-free: both listeners run this very code.
#pragma once

#include <memory>
#include <string>

#include "cube_link.h"
#include "modes.h"

class LightReceiver;
class SoundFeed;

void startCube(CubeLink* link, ListenModeId mode, const std::string& port, SoundFeed* feed);
void setCubeMode(ListenModeId mode);
// The stop byte to the old port and it closed, then the new one opened with the start byte.
void setCubePort(const std::string& port);
// Every LED for two seconds, then the music again.
void lightWholeCube();
// The stop byte, the port closed, the thread ended. Waits a few seconds at most.
void stopCube();

// Other programs' light: while `receiver` has a sender's frame, the cube shows the newest one as
// soon as the line takes it, at most one per line time, and the mode's frames wait; null: the
// music alone. The receiver's change callback is cubeLightChanged.
void setCubeLight(std::shared_ptr<LightReceiver> receiver);
void cubeLightChanged();
