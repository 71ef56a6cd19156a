#include "wave_pattern.h"

#include <cstdlib>
#include <cstring>

namespace {

// A whole decimal number within [low, high].
bool parseNumber(const std::string& word, long low, long high, long* value) {
    if (word.empty())
        return false;
    char* end = nullptr;
    const long parsed = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool fail(std::string* error, const std::string& message) {
    *error = message;
    return false;
}

} // namespace

bool parseWavePattern(const std::vector<std::string>& words, unsigned char out[kBlockSamples],
                      std::string* error) {
    static const char* const usage = "expected const V | alt A B | step A B AT | hex DIGITS";
    if (words.empty())
        return fail(error, usage);
    const std::string& kind = words[0];
    unsigned char block[kBlockSamples];
    long a = 0, b = 0, at = 0;

    if (kind == "const" && words.size() == 2) {
        if (!parseNumber(words[1], 0, 255, &a))
            return fail(error, "byte values are 0 to 255");
        std::memset(block, (int)a, sizeof block);
    } else if (kind == "alt" && words.size() == 3) {
        if (!parseNumber(words[1], 0, 255, &a) || !parseNumber(words[2], 0, 255, &b))
            return fail(error, "byte values are 0 to 255");
        for (int i = 0; i < kBlockSamples; ++i)
            block[i] = (unsigned char)(i % 2 == 0 ? a : b);
    } else if (kind == "step" && words.size() == 4) {
        if (!parseNumber(words[1], 0, 255, &a) || !parseNumber(words[2], 0, 255, &b))
            return fail(error, "byte values are 0 to 255");
        if (!parseNumber(words[3], 0, kBlockSamples, &at))
            return fail(error, "the step index is 0 to 576");
        for (int i = 0; i < kBlockSamples; ++i)
            block[i] = (unsigned char)(i < at ? a : b);
    } else if (kind == "hex" && words.size() == 2) {
        const std::string& digits = words[1];
        if (digits.size() != 2 * kBlockSamples)
            return fail(error, "hex needs 1152 digits, got " + std::to_string(digits.size()));
        for (int i = 0; i < kBlockSamples; ++i) {
            const int high = hexDigit(digits[2 * i]), low = hexDigit(digits[2 * i + 1]);
            if (high < 0 || low < 0)
                return fail(error, "not a hex digit at " + std::to_string(2 * i));
            block[i] = (unsigned char)(high * 16 + low);
        }
    } else {
        return fail(error, usage);
    }
    std::memcpy(out, block, sizeof block);
    return true;
}
