// The bytes a visualisation gets for its waveform, as the player makes them from its samples.
// Platform-free: the plugin's stand-in host, the listener and the native unit tests share it.
#pragma once

#include <cstdint>

// The player hands a plugin this many samples of each channel per render call.
static const int kBlockSamples = 576;

// The byte the player puts in the waveform data for one sample: its top 8 bits in two's
// complement, so silence is 0 and a small negative sample is 255.
inline unsigned char waveformByte(std::int16_t sample) {
    return (unsigned char)(sample >> 8);
}

// A sample in the range -1 to 1 (floating point, as the PC's mixer holds it) as the player's
// 16-bit sample: scaled by 32768, rounded to nearest, clipped to the 16-bit range.
inline std::int16_t sampleFromUnit(float value) {
    float scaled = value * 32768.0f;
    if (scaled != scaled) // NaN: a broken sample is silence
        return 0;
    if (scaled <= -32768.0f)
        return -32768;
    if (scaled >= 32767.0f)
        return 32767;
    return (std::int16_t)(scaled < 0 ? scaled - 0.5f : scaled + 0.5f);
}
