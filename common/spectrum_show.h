// The "Spectrum" mode: a real-time analyser on the cube. Each third-octave band is a column
// standing on the floor (plane 5), as tall as the band is loud against the loudest band of the
// last moments; the 25 columns run back and forth across the rows, so neighbouring bands stand
// side by side. Platform-free.
#pragma once

#include <memory>

#include "music_show.h"
#include "third_octave_bands.h"

// The picture of 25 columns of these heights (0 to 5 planes), band 0 (50 Hz) first.
CubePlanes spectrumPicture(const int heights[kThirdOctaveBands]);

class SpectrumShow : public MusicShow {
  public:
    void start(int rate) override;
    void feed(const float* samples, std::size_t count) override;
    CubePlanes nextFrame() override;

  private:
    ThirdOctaveBands bands_;
    double referenceDb_ = 0.0; // what stands five planes tall
    int heights_[kThirdOctaveBands] = {};
};

std::unique_ptr<MusicShow> makeSpectrumShow();
