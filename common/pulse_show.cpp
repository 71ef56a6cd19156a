#include "pulse_show.h"

// The LEDs at each Chebyshev distance from the centre (plane 3, row 3, bit 2), plane 1 first.
// 0x739C0 is rows 2 to 4, bits 1 to 3 of a plane; 0x1F8C63F is the rest of it, its rim.
static const CubePlanes kShells[] = {
    {{0, 0, 0x0001000, 0, 0}},                                 // the centre alone
    {{0, 0x00739C0, 0x00729C0, 0x00739C0, 0}},                 // the 26 around it
    {{0x1FFFFFF, 0x1F8C63F, 0x1F8C63F, 0x1F8C63F, 0x1FFFFFF}}, // the 98 outer LEDs
};

// Which shell each frame of a pulse shows, from the frame after its beat.
static const int kShellOfStep[] = {
    0, // the centre
    0, // the centre again
    1, // the middle shell
    1, // the middle shell again: a weak beat's pulse ends with it
    2, // the outer shell
    2, // the outer shell again
};
static_assert(sizeof kShellOfStep / sizeof kShellOfStep[0] == kPulseFrames, "a step per frame");

void PulseShow::start(int rate) {
    beats_.start(rate);
    step_ = kPulseFrames;
}

void PulseShow::feed(const float* samples, std::size_t count) {
    beats_.feed(samples, count);
}

CubePlanes PulseShow::nextFrame() {
    CubePlanes frame = {{0, 0, 0, 0, 0}};
    // A new beat starts its pulse over from the centre, whatever was still on its way out.
    if (beats_.takeBeat())
        step_ = 0;
    if (step_ == kPulseFrames)
        return frame;
    int shell = kShellOfStep[step_++];
    if (shell < 2 || beats_.latestIsStrong())
        frame = kShells[shell];
    return frame;
}

std::unique_ptr<MusicShow> makePulseShow() {
    return std::make_unique<PulseShow>();
}
