#include "frame_names.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

static bool lit(const unsigned char* payload, int plane, int row, int bit) {
    return (payload[frameOffset(plane, row) - 1] >> bit) & 1;
}

// Every column stands on plane 5: a lit LED has every LED below it lit too.
static bool columnsFromTheFloor(const unsigned char* payload) {
    for (int row = 1; row <= kCubeRows; ++row)
        for (int bit = 0; bit < kCubeColumns; ++bit)
            for (int plane = 1; plane < kCubePlanes; ++plane)
                if (lit(payload, plane, row, bit) && !lit(payload, plane + 1, row, bit))
                    return false;
    return true;
}

// Which of the pulse's frames this is: 0 dark, 1 the centre, 2 the 26 LEDs around it, 3 the 98
// outer ones; -1 for anything else.
static int pulseShell(const unsigned char* payload) {
    int shell = -1;
    for (int plane = 1; plane <= kCubePlanes; ++plane)
        for (int row = 1; row <= kCubeRows; ++row)
            for (int bit = 0; bit < kCubeColumns; ++bit) {
                if (!lit(payload, plane, row, bit))
                    continue;
                int distance =
                    std::max({std::abs(plane - 3), std::abs(row - 3), std::abs(bit - 2)});
                if (shell != -1 && shell != distance)
                    return -1;
                shell = distance;
            }
    if (shell == -1)
        return 0;
    static const int kShellSizes[] = {1, 26, 98}; // LEDs at distance 0, 1 and 2
    return litCount(payload) == kShellSizes[shell] ? shell + 1 : -1;
}

std::vector<FrameMatch> matchFrame(const unsigned char* payload) {
    std::vector<FrameMatch> matches;
    for (int p = 0; p < kPatternCount; ++p) {
        CubePattern pattern = static_cast<CubePattern>(p);
        for (int index = 0; index < patternFrameCount(pattern); ++index) {
            if (std::memcmp(patternPayload(pattern, index), payload, kCubePayloadSize) == 0)
                matches.push_back({p, index});
        }
    }
    if (columnsFromTheFloor(payload))
        matches.push_back({kFromSpectrum, 0});
    int shell = pulseShell(payload);
    if (shell >= 0)
        matches.push_back({kFromPulse, shell});
    return matches;
}

const char* sourceName(int source) {
    if (source == kFromSpectrum)
        return "Spectrum";
    if (source == kFromPulse)
        return "Pulse";
    return patternName(static_cast<CubePattern>(source));
}

std::string matchName(const FrameMatch& match) {
    if (match.source == kFromSpectrum)
        return "Spectrum";
    int last = match.source == kFromPulse
                   ? 3
                   : patternFrameCount(static_cast<CubePattern>(match.source)) - 1;
    return std::string(sourceName(match.source)) + " " + std::to_string(match.index) + "/" +
           std::to_string(last);
}

int litCount(const unsigned char* payload) {
    int count = 0;
    for (int i = 0; i < kCubePayloadSize; ++i)
        for (int bit = 0; bit < kCubeColumns; ++bit)
            count += (payload[i] >> bit) & 1;
    return count;
}

int soleSource(const std::vector<FrameMatch>& matches) {
    int table = -1, tables = 0, shape = -1, shapes = 0;
    for (const FrameMatch& match : matches) {
        if (match.source < kPatternCount) {
            if (match.source != table)
                ++tables;
            table = match.source;
        } else {
            ++shapes;
            shape = match.source;
        }
    }
    if (tables == 1)
        return table;
    if (tables == 0 && shapes == 1)
        return shape;
    return -1;
}

FrameNaming FrameNamer::name(const unsigned char* payload) {
    FrameNaming naming;
    naming.matches = matchFrame(payload);
    if (naming.matches.empty()) {
        naming.text = "frame";
        return naming;
    }
    for (size_t i = 0; i < naming.matches.size() && naming.chosen < 0; ++i)
        if (naming.matches[i].source == lastSource_)
            naming.chosen = static_cast<int>(i);
    int sole = soleSource(naming.matches);
    if (naming.chosen < 0 && sole >= 0) {
        for (size_t i = 0; i < naming.matches.size() && naming.chosen < 0; ++i)
            if (naming.matches[i].source == sole)
                naming.chosen = static_cast<int>(i);
    }
    // A frame only one source draws tells which mode is running now.
    if (sole >= 0 && (naming.chosen < 0 || naming.matches[naming.chosen].source == sole))
        lastSource_ = sole;
    if (naming.chosen >= 0) {
        naming.text = matchName(naming.matches[naming.chosen]);
        return naming;
    }
    for (size_t i = 0; i < naming.matches.size(); ++i)
        naming.text += (i ? " | " : "") + matchName(naming.matches[i]);
    return naming;
}

void PatternTally::add(const FrameNaming& naming, const unsigned char* payload) {
    std::string bytes(reinterpret_cast<const char*>(payload), kCubePayloadSize);
    if (naming.matches.empty()) {
        ++other_;
        return;
    }
    int sole = soleSource(naming.matches);
    if (sole >= 0) {
        unique_[sole].insert(bytes);
        return;
    }
    auto entry = shared_.find(bytes);
    if (entry == shared_.end())
        shared_[bytes] = Shared{naming.matches, 1};
    else
        ++entry->second.seen;
}

std::string PatternTally::summary() const {
    std::set<std::string> distinct[kFrameSourceCount];
    for (int s = 0; s < kFrameSourceCount; ++s)
        distinct[s] = unique_[s];
    long undecided = 0;
    for (const auto& [bytes, entry] : shared_) {
        bool settled = false;
        for (const FrameMatch& match : entry.candidates) {
            if (!unique_[match.source].empty()) {
                distinct[match.source].insert(bytes);
                settled = true;
            }
        }
        if (!settled)
            undecided += entry.seen;
    }
    std::ostringstream out;
    out << "other=" << other_ << " undecided=" << undecided;
    std::string patterns;
    for (int s = 0; s < kFrameSourceCount; ++s) {
        out << " distinct_" << sourceName(s) << "=" << distinct[s].size();
        if (!unique_[s].empty())
            patterns += (patterns.empty() ? "" : ",") + std::string(sourceName(s));
    }
    out << " patterns=" << (patterns.empty() ? "none" : patterns);
    return out.str();
}
