#include "low_band_beats.h"

#include <cmath>

// The low band: a kick's body and its pitch drop, a bass note's fundamental.
static const double kRumbleHz = 30.0;
static const double kLowBandHz = 150.0;
// The band's energy is taken every 5 ms over the last 20 ms, which holds more than two
// periods of a tone's energy ripple at 40 Hz, so a steady bass note is steady here.
static const double kHopSeconds = 0.005;
// Below this the low band is silence, and the level a rise is measured from never lies lower,
// so hiss and the end of a fade never beat.
static const double kGateDb = -60.0;
// A beat is a rise of the low band's level over 10 ms of at least this much (an eightfold
// energy), or of kBusyFactor times the mean rise of the last second, whichever is more: music
// whose low band wobbles all the time needs more to beat.
static const double kLeastRiseDb = 9.0;
static const double kBusyFactor = 4.0;
static const double kMeanRiseHops = 200.0;
// A kick's pitch drop and its bass note's start are one beat, and no song beats faster.
static const long long kRefractoryHops = 30;
// A beat's strength is what it adds to the low band within its first 50 ms; it is weighed
// against the strongest of the beats of the 4 s before it.
static const long long kStrengthHops = 10;
static const long long kStrongestMemoryHops = 800;

static double levelDb(double meanSquare) {
    // A sine of peak 1 has a mean square of 1/2.
    return std::fmax(kGateDb, 10.0 * std::log10(2.0 * meanSquare + 1e-30));
}

void LowBandBeats::start(int rate) {
    hopSamples_ = rate > 0 ? (int)std::lround(rate * kHopSeconds) : 0;
    samplesInHop_ = 0;
    squaresInHop_ = 0.0;
    hop_ = 0;
    if (rate > 0) {
        rumble_ = butterworthHighpass(kRumbleHz, rate, 0, 1);
        for (int i = 0; i < 2; ++i)
            lowPass_[i] = butterworthLowpass(kLowBandHz, rate, i, 2);
    }
    for (double& energy : hopEnergy_)
        energy = 0.0;
    for (double& energy : windowEnergy_)
        energy = 0.0;
    meanRiseDb_ = 0.0;
    beatCount_ = 0;
    latest_ = 0;
    beatWaiting_ = false;
    wasRising_ = false;
}

void LowBandBeats::feed(const float* samples, std::size_t count) {
    if (hopSamples_ == 0)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        double low = lowPass_[1].process(lowPass_[0].process(rumble_.process(samples[i])));
        squaresInHop_ += low * low;
        if (++samplesInHop_ == hopSamples_)
            endHop();
    }
}

void LowBandBeats::endHop() {
    for (int i = kBeatWindowHops - 1; i > 0; --i)
        hopEnergy_[i] = hopEnergy_[i - 1];
    hopEnergy_[0] = squaresInHop_ / hopSamples_;
    squaresInHop_ = 0.0;
    samplesInHop_ = 0;
    ++hop_;

    double energy = 0.0;
    for (double e : hopEnergy_)
        energy += e / kBeatWindowHops;
    for (int i = kBeatRiseHops; i > 0; --i)
        windowEnergy_[i] = windowEnergy_[i - 1];
    windowEnergy_[0] = energy;
    double rise = levelDb(energy) - levelDb(windowEnergy_[kBeatRiseHops]);

    Beat* latest = beatCount_ > 0 ? &beats_[latest_] : nullptr;
    if (latest && hop_ - latest->hop < kStrengthHops && energy > latest->before)
        latest->strength = std::fmax(latest->strength, std::sqrt(energy - latest->before));

    double threshold = std::fmax(kLeastRiseDb, kBusyFactor * meanRiseDb_);
    bool rested = !latest || hop_ - latest->hop >= kRefractoryHops;
    // A beat is where the rise first crosses the threshold: one that began in the refractory
    // time is the same onset still rising, not a new one.
    bool rising = levelDb(energy) > kGateDb && rise >= threshold;
    bool onset = rising && !wasRising_;
    wasRising_ = rising;
    if (onset && rested) {
        latest_ = beatCount_ > 0 ? (latest_ + 1) % kRememberedBeats : 0;
        if (beatCount_ < kRememberedBeats)
            ++beatCount_;
        Beat& beat = beats_[latest_];
        beat.hop = hop_;
        beat.before = windowEnergy_[kBeatRiseHops];
        beat.strength = std::sqrt(std::fmax(0.0, energy - beat.before));
        beatWaiting_ = true;
    }
    meanRiseDb_ += (std::fmax(0.0, rise) - meanRiseDb_) / kMeanRiseHops;
}

bool LowBandBeats::takeBeat() {
    bool beat = beatWaiting_;
    beatWaiting_ = false;
    return beat;
}

bool LowBandBeats::latestIsStrong() const {
    if (beatCount_ == 0)
        return false;
    const Beat& latest = beats_[latest_];
    double strongest = 0.0;
    for (int i = 0; i < beatCount_; ++i) {
        const Beat& beat = beats_[i];
        if (i != latest_ && latest.hop - beat.hop <= kStrongestMemoryHops)
            strongest = std::fmax(strongest, beat.strength);
    }
    return latest.strength >= strongest / 2.0;
}
