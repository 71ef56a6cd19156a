#include "spectrum_show.h"

#include <cmath>

// Below this a band is silence: hiss, a muted stream, the dither of a quiet player.
static const double kGateDb = -60.0;
// The reference rises at once to the loudest band and falls this fast: a quiet passage fills
// the cube a few seconds after a loud one, while the gaps between beats hardly lower it.
static const double kReferenceFallDbPerSecond = 3.0;
// Each plane down from the top stands for this much less; five of them span 30 dB.
static const double kPlaneDb = 6.0;

CubePlanes spectrumPicture(const int heights[kThirdOctaveBands]) {
    CubePlanes planes = {{0, 0, 0, 0, 0}};
    for (int band = 0; band < kThirdOctaveBands; ++band) {
        int row = band / kCubeColumns + 1;
        int along = band % kCubeColumns;
        // Rows 2 and 4 run back, so band 5 stands beside band 4 rather than across the cube.
        int column = row % 2 ? along : kCubeColumns - 1 - along;
        for (int height = 0; height < heights[band] && height < kCubePlanes; ++height)
            planes.plane[kCubePlanes - 1 - height] |= planeBit(row, column);
    }
    return planes;
}

void SpectrumShow::start(int rate) {
    bands_.start(rate);
    referenceDb_ = kGateDb;
    for (int& height : heights_)
        height = 0;
}

void SpectrumShow::feed(const float* samples, std::size_t count) {
    bands_.feed(samples, count);
}

CubePlanes SpectrumShow::nextFrame() {
    double levels[kThirdOctaveBands];
    double loudest = kGateDb;
    for (int band = 0; band < kThirdOctaveBands; ++band) {
        levels[band] = bands_.levelDb(band);
        loudest = std::fmax(loudest, levels[band]);
    }
    referenceDb_ -= kReferenceFallDbPerSecond * kMusicFrameMs / 1000.0;
    referenceDb_ = std::fmax(referenceDb_, loudest);
    for (int band = 0; band < kThirdOctaveBands; ++band) {
        int height = 0;
        if (levels[band] >= kGateDb)
            height = kCubePlanes - (int)std::floor((referenceDb_ - levels[band]) / kPlaneDb);
        if (height < 0)
            height = 0;
        // A column rises at once but comes down a plane a frame, as an analyser's bars do.
        if (height < heights_[band] - 1)
            height = heights_[band] - 1;
        heights_[band] = height;
    }
    return spectrumPicture(heights_);
}

std::unique_ptr<MusicShow> makeSpectrumShow() {
    return std::make_unique<SpectrumShow>();
}
