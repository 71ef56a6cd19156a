// The beats of the "Pulse" mode: onsets of the low band (30 to 150 Hz: a kick drum, a bass
// note), judged against the recent music, so a quiet song beats as a loud one does.
// Platform-free.
#pragma once

#include <cstddef>

#include "biquad.h"

enum {
    kBeatWindowHops = 4,   // the low band's energy is the mean square over these last hops
    kBeatRiseHops = 2,     // a rise is the energy now against the energy this many hops ago
    kRememberedBeats = 32, // more than the last few seconds can hold, one per 150 ms
};

class LowBandBeats {
  public:
    // A new rate: nothing heard yet. At a rate of 0 or less, no beats.
    void start(int rate);
    void feed(const float* samples, std::size_t count);
    // Whether a beat began in what was fed since the last call.
    bool takeBeat();
    // Whether the latest beat was at least half as strong as the strongest of the few seconds
    // before it. Its strength grows over its first 50 ms as its samples are fed.
    bool latestIsStrong() const;

  private:
    struct Beat {
        long long hop;   // when it began
        double before;   // the low band's energy before it
        double strength; // the amplitude it added to the low band, the highest so far
    };

    void endHop();

    int hopSamples_ = 0;
    int samplesInHop_ = 0;
    double squaresInHop_ = 0.0;
    long long hop_ = 0; // hops ended since start()
    Biquad rumble_;     // a high-pass against offsets and rumble
    Biquad lowPass_[2];
    double hopEnergy_[kBeatWindowHops] = {};      // the mean squares of the last hops
    double windowEnergy_[kBeatRiseHops + 1] = {}; // the window's energy now and hops before
    double meanRiseDb_ = 0.0;                     // how much the low band rises, hop by hop
    bool wasRising_ = false;                      // the last hop rose above the threshold
    Beat beats_[kRememberedBeats] = {};           // the latest at latest_
    int latest_ = 0;
    int beatCount_ = 0;
    bool beatWaiting_ = false;
};
