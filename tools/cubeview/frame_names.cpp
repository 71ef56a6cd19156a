#include "frame_names.h"

#include <cstring>
#include <sstream>

std::vector<FrameMatch> matchFrame(const unsigned char* payload) {
    std::vector<FrameMatch> matches;
    for (int p = 0; p < kPatternCount; ++p) {
        CubePattern pattern = static_cast<CubePattern>(p);
        for (int index = 0; index < patternFrameCount(pattern); ++index) {
            if (std::memcmp(patternPayload(pattern, index), payload, kCubePayloadSize) == 0)
                matches.push_back({pattern, index});
        }
    }
    return matches;
}

std::string matchName(const FrameMatch& match) {
    return std::string(patternName(match.pattern)) + " " + std::to_string(match.index) + "/" +
           std::to_string(patternFrameCount(match.pattern) - 1);
}

int litCount(const unsigned char* payload) {
    int lit = 0;
    for (int i = 0; i < kCubePayloadSize; ++i)
        for (int bit = 0; bit < kCubeColumns; ++bit)
            lit += (payload[i] >> bit) & 1;
    return lit;
}

FrameNaming FrameNamer::name(const unsigned char* payload) {
    FrameNaming naming;
    naming.matches = matchFrame(payload);
    if (naming.matches.empty()) {
        naming.text = "unknown";
        return naming;
    }
    if (naming.matches.size() == 1) {
        naming.chosen = 0;
        lastPattern_ = naming.matches[0].pattern;
    } else {
        for (size_t i = 0; i < naming.matches.size(); ++i)
            if (naming.matches[i].pattern == lastPattern_)
                naming.chosen = static_cast<int>(i);
    }
    if (naming.chosen >= 0) {
        naming.text = matchName(naming.matches[naming.chosen]);
        return naming;
    }
    for (size_t i = 0; i < naming.matches.size(); ++i)
        naming.text += (i ? " | " : "") + matchName(naming.matches[i]);
    return naming;
}

static bool sameMatches(const std::vector<FrameMatch>& a, const std::vector<FrameMatch>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].pattern != b[i].pattern || a[i].index != b[i].index)
            return false;
    return true;
}

void PatternTally::add(const FrameNaming& naming) {
    if (naming.matches.empty()) {
        ++unknown_;
    } else if (naming.matches.size() == 1) {
        unique_[naming.matches[0].pattern].insert(naming.matches[0].index);
    } else {
        for (auto& entry : shared_) {
            if (sameMatches(entry.first, naming.matches)) {
                ++entry.second;
                return;
            }
        }
        shared_.push_back({naming.matches, 1});
    }
}

std::string PatternTally::summary() const {
    std::set<int> distinct[kPatternCount];
    for (int p = 0; p < kPatternCount; ++p)
        distinct[p] = unique_[p];
    long undecided = 0;
    for (const auto& entry : shared_) {
        bool settled = false;
        for (const FrameMatch& match : entry.first) {
            if (!unique_[match.pattern].empty()) {
                distinct[match.pattern].insert(match.index);
                settled = true;
            }
        }
        if (!settled)
            undecided += entry.second;
    }
    std::ostringstream out;
    out << "unknown=" << unknown_ << " undecided=" << undecided;
    std::string patterns;
    for (int p = 0; p < kPatternCount; ++p) {
        const char* name = patternName(static_cast<CubePattern>(p));
        out << " distinct_" << name << "=" << distinct[p].size();
        if (!unique_[p].empty())
            patterns += (patterns.empty() ? "" : ",") + std::string(name);
    }
    out << " patterns=" << (patterns.empty() ? "none" : patterns);
    return out.str();
}
