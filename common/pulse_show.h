// The "Pulse" mode: each beat of the low band sends a pulse out from the cube's centre, shell
// by shell; a weak beat's pulse dies halfway. Platform-free.
#pragma once

#include <memory>

#include "low_band_beats.h"
#include "music_show.h"

enum { kPulseFrames = 6 }; // a strong beat's pulse: the centre, then each shell, two frames each

class PulseShow : public MusicShow {
  public:
    void start(int rate) override;
    void feed(const float* samples, std::size_t count) override;
    CubePlanes nextFrame() override;

  private:
    LowBandBeats beats_;
    int step_ = kPulseFrames; // frames of the pulse shown so far
};

std::unique_ptr<MusicShow> makePulseShow();
