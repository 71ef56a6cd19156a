// The plugin's per-render arithmetic, natively: the level of a 2 x 576 waveform block and the
// level-to-frame selection of the three patterns.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "frames.h"
#include "level.h"

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

} // namespace

BENCHMARK_MAIN();
