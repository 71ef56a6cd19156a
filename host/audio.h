// Audio as the stand-in host plays it: PCM from a WAV file or the built-in test signal, and
// the 576-sample waveform blocks the player hands a visualisation plugin. No Win32 here, so
// the native unit tests check it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "waveform.h"

// Samples held as signed 16-bit whatever the file had: an 8-bit sample u is stored as
// (u - 128) << 8, which keeps its top 8 bits exactly.
struct Audio {
    int sampleRate = 0;
    int channels = 0; // 1 or 2
    int bitsPerSample = 0;
    std::vector<std::int16_t> samples[2]; // samples[1] is empty for mono

    std::size_t frames() const { return samples[0].size(); }
};

// Parses a whole RIFF/WAVE file held in memory. Accepts PCM (also in the extensible wrapper),
// 8 or 16 bits, mono or stereo, any positive rate. On failure returns false and says why in
// `error`, e.g. "not a RIFF/WAVE file" or "24-bit samples are not supported".
bool parseWav(const std::vector<unsigned char>& bytes, Audio* audio, std::string* error);

// Reads and parses a file; the error names what went wrong, not the file.
bool loadWav(const std::string& path, Audio* audio, std::string* error);

// One channel's 576 waveform bytes starting at sample frame `start`. A mono source feeds the
// same samples to both channels; samples past the end are silence.
void fillWaveformBlock(const Audio& audio, std::size_t start, int channel,
                       unsigned char out[kBlockSamples]);

// A stereo signal whose loudness and brightness rise and fall together, period
// `cycleSeconds`: from silence to a loud high tone and back, so every render mode sweeps its
// whole range of levels. The right channel runs a quarter cycle behind the left.
Audio makeTestSignal(int sampleRate, double seconds, double cycleSeconds = 4.0);

// The sample frame at which render call `index` takes its block: the play position advances
// by the module's delay per render call (not by wall-clock time), so a run is reproducible.
std::size_t renderPosition(std::size_t index, int delayMs, int sampleRate);
