// The sound's way from the PC's mixer to what the modes read. The player's modes get the bytes the
// player hands a plugin: one channel (front left) out of whatever the device mixes, at 44.1 kHz,
// as the top 8 bits of 16-bit samples; the newest 576 of them make a block. The music modes get
// the mix of all channels at the device's own rate, every sample since they last asked. The mix
// format is read once and converted here; nothing after this point knows of bits or channels.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "waveform.h"

enum { kPlayerRate = 44100 };

struct MixFormat {
    enum Encoding { kInt16, kInt24, kInt32, kFloat32 } encoding = kFloat32;
    int channels = 2;  // 1 to 8; channel 0 is front left
    int rate = 48000;  // frames a second
    int frameSize = 8; // bytes a frame, all channels (a device may pad a sample)
};

// Whether a device's format is one this feed reads.
bool mixFormatUsable(const MixFormat& format);

class SoundFeed {
  public:
    SoundFeed();

    // A new source: its format, and a fresh start (silence, no partial resampling step).
    void start(const MixFormat& format);
    // `frames` frames in the format given to start(). A packet the platform flags as silent is
    // silence whatever its bytes hold.
    void push(const unsigned char* data, std::size_t frames, bool silent);
    // So much silence as the source would have delivered in `milliseconds`: while nothing plays,
    // a loopback source delivers nothing at all, and the cube must go dark, not freeze.
    void pushSilence(double milliseconds);
    // Everything silent at once: the source has gone.
    void clear();
    // The newest 576 samples of channel 0, as waveform bytes.
    void newestBlock(unsigned char out[kBlockSamples]) const;

    // The mix (the mean of all channels) since the last call, oldest first, at `*rate`; true in
    // `*restarted` when a new source started since then, so what came before is another sound.
    // At most half a second is kept: a reader that fell behind gets the newest.
    void takeMix(std::vector<float>* samples, int* rate, bool* restarted);

  private:
    float sampleAt(const unsigned char* frame, int channel) const;
    void addMix(float value);
    void addSample(float value); // one sample at the device's rate
    void addPlayerSample(std::int16_t sample);

    mutable std::mutex mutex_;
    MixFormat format_;
    double step_ = 1.0;     // device samples per player sample
    double position_ = 0.0; // where the next player sample lies after previous_, in steps of 1
    float previous_ = 0.0f; // the last device sample
    unsigned char ring_[kBlockSamples];
    std::size_t next_ = 0;       // where the next byte goes: the oldest byte
    std::vector<float> mix_;     // a ring of half a second at the device's rate
    std::size_t mixNext_ = 0;    // where the next sample of the mix goes
    std::size_t mixWaiting_ = 0; // how many the reader has not taken
    bool restarted_ = true;
};
