// The plugin's per-render arithmetic, natively: the level of a 2 x 576 waveform block and the
// level-to-frame selection of the three patterns; and a frame of each music mode.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "frames.h"
#include "level.h"
#include "music_signals.h"
#include "pulse_show.h"
#include "spectrum_show.h"

namespace {

// Enough distinct blocks that the branch predictor and caches see something like real audio.
std::vector<unsigned char> randomBlocks(int blocks) {
    std::mt19937 random(1);
    std::vector<unsigned char> samples(size_t(blocks) * 2 * kLevelSamples);
    int value = 0;
    for (unsigned char& sample : samples) {
        value = (value + int(random() % 41) - 20) & 0xFF; // a wandering signal, wrapping at 0/255
        sample = (unsigned char)value;
    }
    return samples;
}

void BM_LevelOfBlock(benchmark::State& state) {
    const int blocks = 64;
    std::vector<unsigned char> samples = randomBlocks(blocks);
    size_t block = 0;
    for (auto _ : state) {
        const unsigned char* channels = &samples[block * 2 * kLevelSamples];
        benchmark::DoNotOptimize(channel_level(channels));
        benchmark::DoNotOptimize(channel_level(channels + kLevelSamples));
        block = (block + 1) % blocks;
    }
    state.SetItemsProcessed(state.iterations() * 2 * kLevelSamples); // samples
}
BENCHMARK(BM_LevelOfBlock);

void BM_FrameSelection(benchmark::State& state) {
    const CubePattern pattern = CubePattern(state.range(0));
    int level = 0;
    CubeFrame frame;
    for (auto _ : state) {
        buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
        benchmark::DoNotOptimize(frame);
        level = (level + 37) & 127;
    }
    state.SetLabel(patternName(pattern));
}
BENCHMARK(BM_FrameSelection)->Arg(kPatternStar)->Arg(kPatternLevels)->Arg(kPatternNewStar);

// Four seconds of something like a song at 48 kHz: kicks at 120 BPM, a bass note, a chord and
// a little hiss.
music::Signal song(int rate) {
    using namespace music;
    const double seconds = 4.0;
    Signal signal = kicks(120.0, -6.0, seconds, rate);
    for (double frequency : {55.0, 440.0, 554.4, 659.3, 3520.0})
        addAt(signal, tone(frequency, -20.0, seconds, rate), 0.0, rate);
    return addAt(signal, whiteNoise(-40.0, seconds, rate), 0.0, rate);
}

// What the cube's thread does for a music mode every 25 ms: hand over a frame's worth of the
// mix, then take the frame.
void musicFrame(benchmark::State& state, std::unique_ptr<MusicShow> show) {
    const int rate = 48000;
    const size_t perFrame = rate * kMusicFrameMs / 1000;
    music::Signal signal = song(rate);
    show->start(rate);
    size_t at = 0;
    for (auto _ : state) {
        show->feed(&signal[at], perFrame);
        benchmark::DoNotOptimize(show->nextFrame());
        at = at + 2 * perFrame <= signal.size() ? at + perFrame : 0;
    }
    state.SetItemsProcessed(state.iterations()); // frames
}

void BM_SpectrumFrame(benchmark::State& state) {
    musicFrame(state, makeSpectrumShow());
}
BENCHMARK(BM_SpectrumFrame);

void BM_PulseFrame(benchmark::State& state) {
    musicFrame(state, makePulseShow());
}
BENCHMARK(BM_PulseFrame);

} // namespace

BENCHMARK_MAIN();
