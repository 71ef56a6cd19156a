// Hand-made waveform blocks for the stand-in host's scripted mode, given as words:
//   const V        every byte V
//   alt A B        A, B, A, B, ... starting with A at index 0
//   step A B AT    A before index AT, B from index AT on
//   hex DIGITS     the 576 bytes spelled out, two hex digits each (1152 digits)
// Byte values are 0 to 255.
#pragma once

#include <string>
#include <vector>

#include "audio.h"

// Fills `out` from the words; on a malformed pattern returns false with a message and leaves
// `out` unchanged.
bool parseWavePattern(const std::vector<std::string>& words, unsigned char out[kBlockSamples],
                      std::string* error);
