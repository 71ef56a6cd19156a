// The activity level of one channel of the player's waveform. Platform-free: the plugin, the
// listener, the native unit tests and the benchmarks share it.
#pragma once

enum {
    kLevelSamples = 576, // one channel of the host's waveform block
    kLevelDivisor = 288, // half the block, not the 575 differences
    kLevelMax = 127,
};

// Sum of the absolute differences of successive samples (575 of them, each sample read as
// 0..255, so a step between 255 and 0 counts 255), divided by 288 and capped at 127.
int channel_level(const unsigned char* samples);
