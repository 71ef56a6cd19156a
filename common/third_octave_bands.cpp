#include "third_octave_bands.h"

#include <cmath>

// A band is read at the lowest rate whose stage holds its upper edge below this share of the
// rate, so each stage holds an octave: three or four bands, one group. The stage's
// anti-aliasing low-pass, cut at 0.19 of the rate it leaves, passes those bands within a
// tenth of a dB and takes what would alias into them (from 0.37 of that rate up) 40 dB down.
// The highest bands, at the device's own rate, may go up to kReachOfRate.
static const double kBandShareOfRate = 0.26;
static const double kAntiAliasingShareOfRate = 0.19;
static const double kReachOfRate = 0.45;
// ISO 266 and IEC 61260 place a third-octave band's edges at its centre x 10^(-+1/20).
static const double kHalfBandRatio = 1.1220184543019633; // 10^(1/20)
// The energy follows each band's output over at least this long, and a low band's over half
// a period of its centre: a steady tone's ripple at twice its frequency stays within a dB,
// and the lowest bands, whose filters ring up slowly enough, lag no more than they must.
static const double kShortestSmoothingSeconds = 0.005;
static const double kSmoothingPeriods = 0.5;

double bandCentre(int band) {
    return 1000.0 * std::pow(10.0, (band - 13) / 10.0);
}

static int stageOfBand(double upper, int rate) {
    int stage = 0;
    while (stage + 1 < kBankStages && upper <= kBandShareOfRate * rate / (2 << stage))
        ++stage;
    return stage;
}

void ThirdOctaveBands::start(int rate) {
    stageCount_ = 0;
    groupCount_ = 0;
    int lanesUsed = kGroupLanes; // of the last group
    // Bands come highest first, so a band joins the last stage, or opens its own and every
    // stage before it on the way; it joins the last group unless that is full or another
    // stage's.
    for (int band = kThirdOctaveBands - 1; band >= 0; --band) {
        double centre = bandCentre(band);
        double upper = centre * kHalfBandRatio;
        group_[band] = -1;
        if (rate <= 0 || upper > kReachOfRate * rate)
            continue;
        int stage = stageOfBand(upper, rate);
        while (stageCount_ <= stage) {
            Stage& s = stages_[stageCount_];
            double faster = (double)rate / (1 << stageCount_);
            for (int i = 0; i < 2; ++i)
                s.antiAliasing[i] =
                    butterworthLowpass(kAntiAliasingShareOfRate * faster, faster, i, 2);
            s.keepNext = true;
            s.firstGroup = groupCount_;
            s.endGroup = groupCount_;
            ++stageCount_;
            lanesUsed = kGroupLanes;
        }
        if (lanesUsed == kGroupLanes) {
            groups_[groupCount_] = BandGroup();
            stages_[stage].endGroup = ++groupCount_;
            lanesUsed = 0;
        }
        int lane = lanesUsed++;
        BandGroup& group = groups_[groupCount_ - 1];
        group_[band] = groupCount_ - 1;
        lane_[band] = lane;

        double stageRate = (double)rate / (1 << stage);
        Biquad sections[kBandpassSections];
        butterworthBandpass(centre / kHalfBandRatio, upper, stageRate, sections);
        for (int i = 0; i < kBandpassSections; ++i) {
            group.gain[i][lane] = (float)sections[i].b0;
            group.a1[i][lane] = (float)sections[i].a1;
            group.a2[i][lane] = (float)sections[i].a2;
        }
        double seconds = std::fmax(kShortestSmoothingSeconds, kSmoothingPeriods / centre);
        group.smoothing[lane] = (float)(1.0 - std::exp(-1.0 / (seconds * stageRate)));
    }
}

void ThirdOctaveBands::feed(const float* samples, std::size_t count) {
    if (stageCount_ == 0)
        return;
    for (std::size_t i = 0; i < count; ++i)
        push(samples[i]);
}

// One sample through its stage's bands and, every second one, on to the next stage.
void ThirdOctaveBands::push(double sample) {
    for (int stage = 0; stage < stageCount_; ++stage) {
        Stage& s = stages_[stage];
        for (int group = s.firstGroup; group < s.endGroup; ++group)
            filter(groups_[group], (float)sample);
        if (stage + 1 == stageCount_)
            return;
        double low = s.antiAliasing[1].process(s.antiAliasing[0].process(sample));
        s.keepNext = !s.keepNext;
        if (s.keepNext)
            return;
        sample = low;
    }
}

void ThirdOctaveBands::filter(BandGroup& group, float sample) {
    float signal[kGroupLanes];
    for (int lane = 0; lane < kGroupLanes; ++lane)
        signal[lane] = sample;
    for (int i = 0; i < kBandpassSections; ++i) {
        for (int lane = 0; lane < kGroupLanes; ++lane) {
            float x = signal[lane];
            float y = group.gain[i][lane] * x + group.state1[i][lane];
            group.state1[i][lane] = group.state2[i][lane] - group.a1[i][lane] * y;
            group.state2[i][lane] = -group.gain[i][lane] * x - group.a2[i][lane] * y;
            signal[lane] = y;
        }
    }
    for (int lane = 0; lane < kGroupLanes; ++lane) {
        float square = signal[lane] * signal[lane];
        group.energy[lane] += group.smoothing[lane] * (square - group.energy[lane]);
    }
}

double ThirdOctaveBands::levelDb(int band) const {
    if (group_[band] < 0)
        return kSilentDb;
    double energy = groups_[group_[band]].energy[lane_[band]];
    if (energy <= 0.0)
        return kSilentDb;
    // A sine of peak 1 has a mean square of 1/2.
    return std::fmax(kSilentDb, 10.0 * std::log10(2.0 * energy));
}
