#include "audio.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const std::uint16_t kFormatPcm = 1;
const std::uint16_t kFormatExtensible = 0xFFFE;

std::uint32_t readLe32(const unsigned char* p) {
    return (std::uint32_t)p[0] | (std::uint32_t)p[1] << 8 | (std::uint32_t)p[2] << 16 |
           (std::uint32_t)p[3] << 24;
}

std::uint16_t readLe16(const unsigned char* p) {
    return (std::uint16_t)(p[0] | p[1] << 8);
}

bool fail(std::string* error, const std::string& message) {
    *error = message;
    return false;
}

struct Format {
    std::uint16_t tag = 0;
    int channels = 0;
    std::uint32_t rate = 0;
    int blockAlign = 0;
    int bits = 0;
};

bool parseFormat(const unsigned char* body, std::uint32_t size, Format* format,
                 std::string* error) {
    if (size < 16)
        return fail(error, "format chunk too short (" + std::to_string(size) + " bytes)");
    format->tag = readLe16(body);
    format->channels = readLe16(body + 2);
    format->rate = readLe32(body + 4);
    format->blockAlign = readLe16(body + 12);
    format->bits = readLe16(body + 14);
    // The extensible wrapper names the real format in the first two bytes of its GUID.
    if (format->tag == kFormatExtensible && size >= 26)
        format->tag = readLe16(body + 24);

    if (format->tag != kFormatPcm)
        return fail(error, "not PCM (format tag " + std::to_string(format->tag) + ")");
    if (format->bits != 8 && format->bits != 16)
        return fail(error, std::to_string(format->bits) +
                               "-bit samples are not supported (8 or 16 bits only)");
    if (format->channels != 1 && format->channels != 2)
        return fail(error, std::to_string(format->channels) +
                               " channels are not supported (mono or stereo only)");
    if (format->rate == 0 || format->rate > 1000000)
        return fail(error, "sample rate " + std::to_string(format->rate) + " is not usable");
    if (format->blockAlign != format->channels * format->bits / 8)
        return fail(error, "block alignment " + std::to_string(format->blockAlign) +
                               " does not match " + std::to_string(format->channels) +
                               " channels of " + std::to_string(format->bits) + " bits");
    return true;
}

void decode(const unsigned char* data, std::uint32_t size, const Format& format, Audio* audio) {
    const std::size_t frames = size / (std::uint32_t)format.blockAlign;
    for (int c = 0; c < 2; ++c)
        audio->samples[c].clear();
    for (int c = 0; c < format.channels; ++c)
        audio->samples[c].resize(frames);
    const int bytesPerSample = format.bits / 8;
    for (std::size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < format.channels; ++c) {
            const unsigned char* p = data + f * format.blockAlign + c * bytesPerSample;
            // 8-bit WAV samples are offset binary, 16-bit ones two's complement.
            audio->samples[c][f] = bytesPerSample == 1 ? (std::int16_t)((p[0] - 128) * 256)
                                                       : (std::int16_t)readLe16(p);
        }
    }
    audio->sampleRate = (int)format.rate;
    audio->channels = format.channels;
    audio->bitsPerSample = format.bits;
}

} // namespace

bool parseWav(const std::vector<unsigned char>& bytes, Audio* audio, std::string* error) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return fail(error, "not a RIFF/WAVE file");

    Format format;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id(reinterpret_cast<const char*>(bytes.data() + at), 4);
        const std::uint32_t size = readLe32(bytes.data() + at + 4);
        const unsigned char* body = bytes.data() + at + 8;
        const std::size_t left = bytes.size() - at - 8;
        if (size > left)
            return fail(error, "truncated: chunk '" + id + "' needs " + std::to_string(size) +
                                   " bytes, " + std::to_string(left) + " left");
        if (id == "fmt ") {
            if (!parseFormat(body, size, &format, error))
                return false;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return fail(error, "data chunk before any format chunk");
            if (size % (std::uint32_t)format.blockAlign != 0)
                return fail(error, "truncated: data chunk of " + std::to_string(size) +
                                       " bytes ends inside a sample frame");
            decode(body, size, format, audio);
            return true;
        }
        // Chunks are padded to an even length.
        at += 8 + (std::size_t)size + (size & 1);
    }
    return fail(error, haveFormat ? "no data chunk" : "no format chunk");
}

bool loadWav(const std::string& path, Audio* audio, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(error, "cannot open the file");
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    return parseWav(bytes, audio, error);
}

void fillWaveformBlock(const Audio& audio, std::size_t start, int channel,
                       unsigned char out[kBlockSamples]) {
    const std::vector<std::int16_t>& source =
        audio.samples[channel == 1 && audio.channels == 2 ? 1 : 0];
    for (int i = 0; i < kBlockSamples; ++i) {
        const std::size_t at = start + (std::size_t)i;
        out[i] = at < source.size() ? waveformByte(source[at]) : 0;
    }
}

Audio makeTestSignal(int sampleRate, double seconds, double cycleSeconds) {
    const double pi = 3.14159265358979323846;
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels = 2;
    audio.bitsPerSample = 16;
    const std::size_t frames = (std::size_t)(seconds * sampleRate);
    for (int c = 0; c < 2; ++c) {
        audio.samples[c].resize(frames);
        double phase = 0;
        for (std::size_t f = 0; f < frames; ++f) {
            const double t = (double)f / sampleRate - c * cycleSeconds / 4;
            // 0 at the start of a cycle, 1 halfway through.
            const double swell = 0.5 - 0.5 * std::cos(2 * pi * t / cycleSeconds);
            // A bright loud tone changes fast and far between samples: that is what the
            // plugin measures. At the peak the tone alone drives every mode to its top level.
            const double frequency = 40 + 0.16 * sampleRate * swell;
            phase += 2 * pi * frequency / sampleRate;
            audio.samples[c][f] = (std::int16_t)std::lround(32000 * swell * std::sin(phase));
        }
    }
    return audio;
}

std::size_t renderPosition(std::size_t index, int delayMs, int sampleRate) {
    return (std::size_t)((unsigned long long)index * (unsigned)delayMs * (unsigned)sampleRate /
                         1000);
}
