// The filter bank of the "Spectrum" mode: the 25 third-octave bands of ISO 266 from 50 Hz to
// 12.5 kHz, as a real-time analyser shows them, read from the mix at the device's own rate.
// Platform-free.
#pragma once

#include <cstddef>

#include "biquad.h"

enum {
    kThirdOctaveBands = 25, // 50 Hz to 12.5 kHz
    kBankStages = 12,       // the device's rate halved up to 11 times: 50 Hz at 384 kHz
    kGroupLanes = 4,        // bands filtered side by side, one sample at a time
};

// A level below anything the bank hears: the level of a band beyond the rate's reach.
static const double kSilentDb = -200.0;

// The exact centre of band `band` (0 is the one ISO 266 names 50 Hz): 1000 x 10^(n / 10) Hz.
double bandCentre(int band);

class ThirdOctaveBands {
  public:
    ThirdOctaveBands() { start(0); }
    // A new rate: every band starts from silence. Bands whose upper edge lies above 0.45 x the
    // rate stay silent; so does every band at a rate of 0 or less.
    void start(int rate);
    void feed(const float* samples, std::size_t count);
    // The band's level now, in dB against a full-scale sine (one whose peaks touch -1 and 1).
    double levelDb(int band) const;
    bool inReach(int band) const { return group_[band] >= 0; }

  private:
    // Up to four bands of one stage, in float and side by side, so that the compiler may run
    // them as one vector: the bank's whole cost is in these few lines. Only band-pass sections
    // are here, whose zeros make b1 0 and b2 -b0. An unused lane has no gain.
    struct BandGroup {
        float gain[kBandpassSections][kGroupLanes];
        float a1[kBandpassSections][kGroupLanes];
        float a2[kBandpassSections][kGroupLanes];
        float state1[kBandpassSections][kGroupLanes];
        float state2[kBandpassSections][kGroupLanes];
        float energy[kGroupLanes];    // the mean square of each band's output, smoothed
        float smoothing[kGroupLanes]; // how much of each new square goes into it
    };
    // One octave's worth of bands at one rate, and the low-pass that lets the next stage take
    // every second sample without aliasing into its bands.
    struct Stage {
        int firstGroup;
        int endGroup;
        Biquad antiAliasing[2];
        bool keepNext; // whether the next sample goes on to the next stage
    };

    void push(double sample);
    static void filter(BandGroup& group, float sample);

    BandGroup groups_[kThirdOctaveBands];
    int groupCount_ = 0;
    Stage stages_[kBankStages];
    int stageCount_ = 0;
    int group_[kThirdOctaveBands] = {}; // each band's group, -1 beyond reach
    int lane_[kThirdOctaveBands] = {};
};
