// Generated sound for the music modes' tests and benchmarks, and a way to play it into a show
// as a source would: in packets of some size, with a frame every 25 ms.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "music_show.h"

namespace music {

using Signal = std::vector<float>;

inline std::size_t samplesIn(double seconds, int rate) {
    return (std::size_t)std::lround(seconds * rate);
}

inline Signal silence(double seconds, int rate) {
    return Signal(samplesIn(seconds, rate), 0.0f);
}

// A sine whose peaks lie at `db` dBFS.
inline Signal tone(double frequency, double db, double seconds, int rate) {
    Signal signal(samplesIn(seconds, rate));
    for (std::size_t i = 0; i < signal.size(); ++i)
        signal[i] =
            (float)(std::pow(10.0, db / 20.0) * std::sin(2.0 * M_PI * frequency * i / rate));
    return signal;
}

// White noise whose RMS is that of a sine peaking at `db` dBFS.
inline Signal whiteNoise(double db, double seconds, int rate) {
    std::mt19937 random(1);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, db / 20.0) / std::sqrt(2.0));
    Signal signal(samplesIn(seconds, rate));
    for (float& sample : signal)
        sample = (float)gauss(random);
    return signal;
}

// A synthetic kick drum peaking at `db` dBFS: a sine that drops from 150 Hz to 55 Hz in some
// 30 ms and dies away, by default over a quarter of a second.
inline Signal kick(double db, int rate, double decaySeconds = 0.08) {
    Signal signal(samplesIn(0.3, rate));
    double phase = 0.0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        double t = (double)i / rate;
        double envelope = std::fmin(1.0, t / 0.002) * std::exp(-t / decaySeconds);
        signal[i] = (float)(std::pow(10.0, db / 20.0) * envelope * std::sin(phase));
        phase += 2.0 * M_PI * (55.0 + 95.0 * std::exp(-t / 0.015)) / rate;
    }
    return signal;
}

// `sound` added into `into` from `seconds` on, growing `into` as needed.
inline Signal& addAt(Signal& into, const Signal& sound, double seconds, int rate) {
    std::size_t from = samplesIn(seconds, rate);
    if (into.size() < from + sound.size())
        into.resize(from + sound.size(), 0.0f);
    for (std::size_t i = 0; i < sound.size(); ++i)
        into[from + i] += sound[i];
    return into;
}

// Kicks every 60 / bpm seconds, `seconds` long in all.
inline Signal kicks(double bpm, double db, double seconds, int rate) {
    Signal signal = silence(seconds, rate);
    for (double at = 0.0; at < seconds; at += 60.0 / bpm)
        addAt(signal, kick(db, rate), at, rate);
    signal.resize(samplesIn(seconds, rate));
    return signal;
}

// Plays `signal` into `show` as a source handing over packets of `packetMs` would: the frame
// at the end of each 25 ms gets every packet complete by then (so 100 ms packets give one
// frame all of them and three frames nothing). Frame i is the one at (i + 1) x 25 ms.
inline std::vector<CubePlanes> play(MusicShow& show, const Signal& signal, int rate, int packetMs) {
    std::vector<CubePlanes> frames;
    std::size_t fed = 0, packet = samplesIn(packetMs / 1000.0, rate);
    for (int frame = 1; fed < signal.size(); ++frame) {
        std::size_t arrived = samplesIn(frame * kMusicFrameMs / 1000.0, rate) / packet * packet;
        for (; fed + packet <= arrived && fed < signal.size(); fed += packet)
            show.feed(&signal[fed], std::min(packet, signal.size() - fed));
        frames.push_back(show.nextFrame());
    }
    return frames;
}

// The first frame by which the sample at `seconds` into the signal has been fed.
inline int frameHaving(double seconds, int rate, int packetMs) {
    std::size_t packet = samplesIn(packetMs / 1000.0, rate);
    std::size_t end = (samplesIn(seconds, rate) / packet + 1) * packet;
    int frame = 0;
    while (samplesIn((frame + 1) * kMusicFrameMs / 1000.0, rate) / packet * packet < end)
        ++frame;
    return frame;
}

} // namespace music
