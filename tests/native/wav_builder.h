// Hand-built RIFF/WAVE files for the tests of the stand-in host's WAV reader, good and bad.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<unsigned char>;

inline void putLe(Bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back((unsigned char)(value >> (8 * i)));
}

inline Bytes chunk(const std::string& id, const Bytes& body) {
    Bytes out(id.begin(), id.end());
    putLe(out, (std::uint32_t)body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 == 1)
        out.push_back(0); // chunks are padded to an even length
    return out;
}

inline Bytes formatBody(int tag, int channels, int rate, int bits) {
    Bytes body;
    putLe(body, (std::uint32_t)tag, 2);
    putLe(body, (std::uint32_t)channels, 2);
    putLe(body, (std::uint32_t)rate, 4);
    putLe(body, (std::uint32_t)(rate * channels * bits / 8), 4);
    putLe(body, (std::uint32_t)(channels * bits / 8), 2);
    putLe(body, (std::uint32_t)bits, 2);
    return body;
}

// "RIFF" size "WAVE" followed by the chunks as given.
inline Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes inner = {'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks)
        inner.insert(inner.end(), c.begin(), c.end());
    Bytes out = {'R', 'I', 'F', 'F'};
    putLe(out, (std::uint32_t)inner.size(), 4);
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

// A plain PCM file: format chunk, then the data bytes.
inline Bytes pcmWav(int channels, int rate, int bits, const Bytes& data) {
    return riff({chunk("fmt ", formatBody(1, channels, rate, bits)), chunk("data", data)});
}

// 16-bit samples as little-endian data bytes.
inline Bytes samples16(const std::vector<std::int16_t>& samples) {
    Bytes out;
    for (std::int16_t s : samples)
        putLe(out, (std::uint16_t)s, 2);
    return out;
}

} // namespace wavtest
