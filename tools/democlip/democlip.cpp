// democlip FILE [SECONDS]: writes the demo's audio clip, a 16-bit stereo 44.1 kHz WAV made here
// rather than downloaded. A chord whose loudness and brightness swell and fade twice, with a
// hi-hat-like noise burst and a kick drum on every beat, so each render mode sweeps through most
// of its frames: the level follows how fast the waveform changes, so it rises with both loudness
// and the strength of the high partials. The kick, low and smooth, hardly moves the level; it is
// what the Pulse mode beats to, and the chord's partials what the Spectrum mode stands up.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979323846;

void put16(std::ofstream& out, uint16_t value) {
    out.put(char(value & 0xFF)).put(char(value >> 8));
}
void put32(std::ofstream& out, uint32_t value) {
    put16(out, uint16_t(value & 0xFFFF));
    put16(out, uint16_t(value >> 16));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: democlip FILE [SECONDS]\n");
        return 2;
    }
    double seconds = argc > 2 ? atof(argv[2]) : 8.0;
    if (!(seconds > 0 && seconds <= 600)) {
        fprintf(stderr, "democlip: SECONDS must be between 0 and 600\n");
        return 2;
    }
    const size_t frames = size_t(seconds * kRate);
    const double chord[] = {110.0, 138.6, 164.8, 220.0}; // A major, low
    std::mt19937 noise(7);
    std::uniform_real_distribution<double> white(-1.0, 1.0);

    std::vector<int16_t> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        double t = double(i) / kRate;
        double phase = t / seconds; // 0..1 over the clip
        // Two swells, 0 -> 1 -> 0 and 0 -> 0.7 -> 0: the lower second peak lingers in the upper
        // middle levels that the first one rushes through.
        double swell = (0.5 - 0.5 * std::cos(4 * kPi * phase)) * (phase < 0.5 ? 1.0 : 0.7);
        double brightness = swell; // high partials come with loudness
        double left = 0, right = 0;
        for (int n = 0; n < 4; ++n) {
            double f = chord[n];
            double tone = std::sin(2 * kPi * f * t);
            // Odd partials up to ~7 kHz, stronger as the swell brightens.
            for (int k = 3; k * f < 7000; k += 2)
                tone += brightness * std::sin(2 * kPi * k * f * t) * (1.4 / std::sqrt(double(k)));
            left += tone * (n % 2 ? 0.8 : 1.0);
            right += tone * (n % 2 ? 1.0 : 0.8);
        }
        double beat = std::fmod(t, 0.5); // 120 beats a minute
        double hat = beat < 0.06 ? (1 - beat / 0.06) * white(noise) * (0.3 + 0.7 * swell) : 0;
        // A kick drum: a sine falling from 110 to 50 Hz within a few tens of milliseconds,
        // fading over 150 ms. Its phase is the integral of the falling pitch.
        double kickPhase = 2 * kPi * (50 * beat + 60 * 0.03 * (1 - std::exp(-beat / 0.03)));
        double kick = 0.2 * std::exp(-beat / 0.15) * std::sin(kickPhase);
        double gain = 0.02 + 0.98 * swell;
        left = std::tanh(0.25 * gain * left * 3) + hat + kick;
        right = std::tanh(0.25 * gain * right * 3) + hat + kick;
        samples[2 * i] = int16_t(std::lround(std::max(-1.0, std::min(1.0, left * 0.9)) * 32767));
        samples[2 * i + 1] =
            int16_t(std::lround(std::max(-1.0, std::min(1.0, right * 0.9)) * 32767));
    }

    std::ofstream out(argv[1], std::ios::binary);
    if (!out) {
        fprintf(stderr, "democlip: cannot write %s\n", argv[1]);
        return 1;
    }
    uint32_t dataBytes = uint32_t(samples.size() * 2);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 2); // stereo
    put32(out, kRate);
    put32(out, kRate * 4);
    put16(out, 4);
    put16(out, 16);
    out.write("data", 4);
    put32(out, dataBytes);
    for (int16_t sample : samples)
        put16(out, uint16_t(sample));
    return out ? 0 : 1;
}
