// Listening on Linux: through the sound server's client library (libpulse), which PulseAudio and
// PipeWire's pulse server both answer. A thread of its own records the chosen source and feeds
// the sound to the cube's thread; it recovers by itself when the server, a sink or the default
// output comes and goes, and tells what it finds (report.h).
#pragma once

#include <string>
#include <vector>

class SoundFeed;

// An empty device: what this machine plays, the default output's monitor, followed when the
// default changes. Else a recording device by its description ("Monitor of Speakers") or name.
void startCapture(const std::string& device, SoundFeed* feed);
void setCaptureDevice(const std::string& device);
void stopCapture();

// What the status calls a source.
std::string sourceTitle(const std::string& device);

// The recording devices the sound server has now, by the description people see; false when no
// server answered within a few seconds (it may not be up yet).
bool recordingDevices(std::vector<std::string>* descriptions, std::vector<std::string>* names);
