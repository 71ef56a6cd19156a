// The stand-in host's audio: WAV parsing, the bytes it hands the plugin, the test signal and
// the scripted waveform patterns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "audio.h"
#include "wav_builder.h"
#include "wave_pattern.h"

using namespace wavtest;

namespace {

struct Block {
    unsigned char bytes[kBlockSamples];
};

Block blockOf(const Audio& audio, std::size_t start, int channel) {
    Block block;
    fillWaveformBlock(audio, start, channel, block.bytes);
    return block;
}

Audio parsed(const Bytes& file) {
    Audio audio;
    std::string error;
    EXPECT_TRUE(parseWav(file, &audio, &error)) << error;
    return audio;
}

// The plugin's measure of a block, to check that the test signal sweeps it.
int levelOf(const Block& block) {
    int sum = 0;
    for (int i = 1; i < kBlockSamples; ++i)
        sum += std::abs(block.bytes[i] - block.bytes[i - 1]);
    return std::min(127, sum / 288);
}

TEST(WavSamples, SixteenBitSamplesGiveTheirTopByteInTwosComplement) {
    static const struct {
        std::int16_t sample;
        unsigned char byte;
    } cases[] = {
        {0, 0},         // silence
        {255, 0},       // below one step
        {256, 1},       // one step up
        {-1, 255},      // a small negative sample
        {-256, 255},    // one step down
        {-257, 254},    // just past it
        {32767, 127},   // loudest positive
        {-32768, 128},  // loudest negative
        {0x1234, 0x12}, //
    };
    std::vector<std::int16_t> samples;
    for (const auto& c : cases)
        samples.push_back(c.sample);
    Audio audio = parsed(pcmWav(1, 8000, 16, samples16(samples)));
    ASSERT_EQ(audio.frames(), samples.size());
    Block block = blockOf(audio, 0, 0);
    for (size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(block.bytes[i], cases[i].byte) << "sample " << cases[i].sample;
}

TEST(WavSamples, EightBitSamplesAreOffsetBinary) {
    static const struct {
        unsigned char sample;
        unsigned char byte;
    } cases[] = {
        {128, 0},   // silence
        {129, 1},   // one step up
        {127, 255}, // one step down
        {255, 127}, // loudest positive
        {0, 128},   // loudest negative
    };
    Bytes data;
    for (const auto& c : cases)
        data.push_back(c.sample);
    Audio audio = parsed(pcmWav(1, 11025, 8, data));
    EXPECT_EQ(audio.bitsPerSample, 8);
    Block block = blockOf(audio, 0, 0);
    for (size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(block.bytes[i], cases[i].byte) << "8-bit sample " << (int)cases[i].sample;
}

TEST(WavSamples, StereoChannelsStayApartAndMonoFeedsBoth) {
    // Interleaved left/right: left counts up by 256, right down.
    std::vector<std::int16_t> stereo;
    for (int f = 0; f < 10; ++f) {
        stereo.push_back((std::int16_t)(f * 256));
        stereo.push_back((std::int16_t)(-f * 256));
    }
    Audio two = parsed(pcmWav(2, 44100, 16, samples16(stereo)));
    EXPECT_EQ(two.channels, 2);
    EXPECT_EQ(two.frames(), 10u);
    Block left = blockOf(two, 3, 0), right = blockOf(two, 3, 1);
    EXPECT_EQ(left.bytes[0], 3);
    EXPECT_EQ(right.bytes[0], 256 - 3);
    EXPECT_EQ(left.bytes[6], 9);

    Audio one = parsed(pcmWav(1, 22050, 8, Bytes{128, 138, 148}));
    Block a = blockOf(one, 0, 0), b = blockOf(one, 0, 1);
    EXPECT_TRUE(std::equal(a.bytes, a.bytes + kBlockSamples, b.bytes))
        << "mono must feed the same samples to both channels";
    EXPECT_EQ(a.bytes[2], 20);
}

TEST(WavSamples, ABlockRunningPastTheEndIsFilledWithSilence) {
    std::vector<std::int16_t> loud(600, (std::int16_t)0x4000);
    Audio audio = parsed(pcmWav(1, 8000, 16, samples16(loud)));
    Block block = blockOf(audio, 500, 0);
    EXPECT_EQ(block.bytes[99], 0x40);
    EXPECT_EQ(block.bytes[100], 0) << "past the last sample";
    EXPECT_EQ(block.bytes[575], 0);
    Block beyond = blockOf(audio, 5000, 0);
    EXPECT_EQ(std::count(beyond.bytes, beyond.bytes + kBlockSamples, 0), kBlockSamples);
}

TEST(WavFile, SkipsOtherChunksAndPaddingAndAcceptsTheExtensibleWrapper) {
    Bytes extensible = formatBody(0xFFFE, 1, 8000, 16);
    putLe(extensible, 22, 2); // extension size
    putLe(extensible, 16, 2); // valid bits
    putLe(extensible, 4, 4);  // channel mask
    putLe(extensible, 1, 2);  // sub-format GUID, starting with the PCM tag
    extensible.resize(extensible.size() + 14, 0);
    Bytes file = riff({chunk("LIST", Bytes{'a', 'b', 'c'}), chunk("fmt ", extensible),
                       chunk("fact", Bytes{1, 0, 0, 0}), chunk("data", samples16({0x0100}))});
    Audio audio = parsed(file);
    EXPECT_EQ(audio.sampleRate, 8000);
    ASSERT_EQ(audio.frames(), 1u);
    EXPECT_EQ(blockOf(audio, 0, 0).bytes[0], 1);
}

TEST(WavFile, RejectsWhatItCannotPlayAndSaysWhy) {
    const Bytes sample = samples16({1, 2});
    static const char* const noData = "no data chunk";
    const struct {
        const char* name;
        Bytes file;
        const char* message;
    } cases[] = {
        {"empty file", Bytes(), "not a RIFF/WAVE file"},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'},
         "not a RIFF/WAVE file"},
        {"AVI not WAVE",
         [] {
             Bytes b = pcmWav(1, 8000, 16, {});
             b[8] = 'A';
             return b;
         }(),
         "not a RIFF/WAVE file"},
        {"float samples", riff({chunk("fmt ", formatBody(3, 1, 8000, 32)), chunk("data", {})}),
         "not PCM (format tag 3)"},
        {"24-bit", riff({chunk("fmt ", formatBody(1, 1, 8000, 24)), chunk("data", {})}),
         "24-bit samples are not supported (8 or 16 bits only)"},
        {"surround", riff({chunk("fmt ", formatBody(1, 6, 8000, 16)), chunk("data", {})}),
         "6 channels are not supported (mono or stereo only)"},
        {"rate 0", riff({chunk("fmt ", formatBody(1, 1, 0, 16)), chunk("data", {})}),
         "sample rate 0 is not usable"},
        {"short format", riff({chunk("fmt ", Bytes{1, 0, 1, 0}), chunk("data", {})}),
         "format chunk too short (4 bytes)"},
        {"data first", riff({chunk("data", sample), chunk("fmt ", formatBody(1, 1, 8000, 16))}),
         "data chunk before any format chunk"},
        {"no data", riff({chunk("fmt ", formatBody(1, 1, 8000, 16))}), noData},
        {"no format", riff({chunk("LIST", Bytes{1, 2})}), "no format chunk"},
        {"truncated data",
         [&] {
             Bytes b = pcmWav(1, 8000, 16, sample);
             b.resize(b.size() - 1);
             return b;
         }(),
         "truncated: chunk 'data' needs 4 bytes, 3 left"},
        {"half a stereo frame", pcmWav(2, 8000, 16, samples16({1, 2, 3})),
         "truncated: data chunk of 6 bytes ends inside a sample frame"},
    };
    for (const auto& c : cases) {
        Audio audio;
        std::string error;
        EXPECT_FALSE(parseWav(c.file, &audio, &error)) << c.name;
        EXPECT_EQ(error, c.message) << c.name;
    }
}

TEST(WavFile, AMissingFileIsAnError) {
    Audio audio;
    std::string error;
    EXPECT_FALSE(loadWav("/nonexistent/dir/song.wav", &audio, &error));
    EXPECT_EQ(error, "cannot open the file");
}

TEST(TestSignal, SweepsEveryLevelFromSilenceToTheTopAndBackOnBothChannels) {
    const int rate = 44100;
    Audio signal = makeTestSignal(rate, 8.0, 4.0);
    ASSERT_EQ(signal.channels, 2);
    ASSERT_EQ(signal.frames(), 8u * rate);
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<int> levels;
        for (std::size_t k = 0;; ++k) {
            std::size_t at = renderPosition(k, 15, rate);
            if (at + kBlockSamples > signal.frames())
                break;
            levels.push_back(levelOf(blockOf(signal, at, channel)));
        }
        EXPECT_LE(*std::min_element(levels.begin(), levels.end()), 1) << "channel " << channel;
        EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 127) << "channel " << channel;
        // Rising and falling twice in 8 s: every step between meets levels in between, so
        // the mid range is well covered too (no jump from quiet straight to the top).
        int middle = 0, peaks = 0;
        for (size_t i = 1; i < levels.size(); ++i) {
            middle += levels[i] >= 40 && levels[i] <= 90;
            peaks += levels[i] == 127 && levels[i - 1] < 127;
        }
        EXPECT_GT(middle, 40) << "channel " << channel;
        EXPECT_GE(peaks, 2) << "channel " << channel;
    }
}

TEST(TestSignal, RenderPositionsAdvanceByTheDelay) {
    EXPECT_EQ(renderPosition(0, 15, 44100), 0u);
    EXPECT_EQ(renderPosition(1, 15, 44100), 661u); // 661.5 rounded down
    EXPECT_EQ(renderPosition(2, 15, 44100), 1323u);
    EXPECT_EQ(renderPosition(200000, 50, 48000), 480000000u) << "no overflow on long runs";
}

TEST(WavePattern, BuildsTheScriptedBlocks) {
    Block block;
    std::string error;
    ASSERT_TRUE(parseWavePattern({"const", "7"}, block.bytes, &error)) << error;
    EXPECT_EQ(std::count(block.bytes, block.bytes + kBlockSamples, 7), kBlockSamples);

    ASSERT_TRUE(parseWavePattern({"alt", "0", "255"}, block.bytes, &error)) << error;
    EXPECT_EQ(block.bytes[0], 0);
    EXPECT_EQ(block.bytes[1], 255);
    EXPECT_EQ(block.bytes[575], 255);

    ASSERT_TRUE(parseWavePattern({"step", "0", "255", "288"}, block.bytes, &error)) << error;
    EXPECT_EQ(block.bytes[287], 0);
    EXPECT_EQ(block.bytes[288], 255);

    std::string digits;
    for (int i = 0; i < kBlockSamples; ++i)
        digits += i == 3 ? "aB" : "01";
    ASSERT_TRUE(parseWavePattern({"hex", digits}, block.bytes, &error)) << error;
    EXPECT_EQ(block.bytes[2], 1);
    EXPECT_EQ(block.bytes[3], 0xAB);
}

TEST(WavePattern, RejectsMalformedPatternsAndKeepsTheBlock) {
    const struct {
        std::vector<std::string> words;
        const char* message;
    } cases[] = {
        {{"const", "256"}, "byte values are 0 to 255"},
        {{"const", "-1"}, "byte values are 0 to 255"},
        {{"alt", "1", "x"}, "byte values are 0 to 255"},
        {{"step", "0", "1", "577"}, "the step index is 0 to 576"},
        {{"hex", "0102"}, "hex needs 1152 digits, got 4"},
        {{"hex", std::string(1150, '0') + "0g"}, "not a hex digit at 1150"},
        {{"sine", "3"}, "expected const V | alt A B | step A B AT | hex DIGITS"},
        {{"const"}, "expected const V | alt A B | step A B AT | hex DIGITS"},
        {{}, "expected const V | alt A B | step A B AT | hex DIGITS"},
    };
    for (const auto& c : cases) {
        Block block;
        std::fill(block.bytes, block.bytes + kBlockSamples, 9);
        std::string error;
        EXPECT_FALSE(parseWavePattern(c.words, block.bytes, &error)) << c.message;
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(std::count(block.bytes, block.bytes + kBlockSamples, 9), kBlockSamples);
    }
}

} // namespace
