// Listening: a thread of its own that captures the chosen source through WASAPI in shared mode
// and feeds the sound to the cube's thread. It never touches a window; what it finds out it
// tells (report.h). Device changes, lost devices and devices held by others are its own
// business: it recovers by itself.
#pragma once

#include <string>

class SoundFeed;

// An empty device name: what this PC plays (loopback of the default output). Else a recording
// device by the name Windows shows.
void startCapture(const std::string& device, SoundFeed* feed);
void setCaptureDevice(const std::string& device);
// After the PC wakes up: a capture can go quiet for good across sleep, so it starts afresh.
void restartCapture();
void stopCapture();

// What the tray and the tooltip call a source.
std::string sourceTitle(const std::string& device);
