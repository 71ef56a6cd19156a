// What the music modes share, "Spectrum" and "Pulse": unlike the player's modes, which draw one
// level of 576 bytes as a fixed frame, they read the whole mix at the device's own rate and draw
// frames of their own. Platform-free: the listeners of every platform, the unit tests and the
// benchmarks drive the same code.
#pragma once

#include <cstddef>

#include "frames.h"

enum { kMusicFrameMs = 25 }; // a music mode's frame goes out this often

class MusicShow {
  public:
    virtual ~MusicShow() = default;
    // A new source, or a fresh start: everything heard before is forgotten.
    virtual void start(int rate) = 0;
    // The next `count` samples of the mix (the mean of all channels, -1 to 1) at the rate given
    // to start(). Between two frames about one frame's worth arrives, but a source may hand over
    // nothing for a while and then several packets at once.
    virtual void feed(const float* samples, std::size_t count) = 0;
    // The frame for now. Called once every kMusicFrameMs.
    virtual CubePlanes nextFrame() = 0;
};
