// Names received frames: after the shared pattern tables ("Star 2/3": index / last index), and
// frames no table holds by the music mode whose shape they have ("Spectrum": columns standing on
// plane 5; "Pulse 2/3": a shell around the centre), else "frame" (another program's light, a
// sender we do not know). Keeps the tally behind cubeview's summary line.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frames.h"

// Who may have sent a frame: a pattern table, or a music mode by the shape it draws.
enum FrameSource {
    kFromStar = kPatternStar,
    kFromLevels = kPatternLevels,
    kFromNewStar = kPatternNewStar,
    kFromSpectrum = kPatternCount,
    kFromPulse,
    kFrameSourceCount,
};

struct FrameMatch {
    int source;
    int index; // the table's frame; Pulse: 0 dark, 1 the centre, 2 and 3 the shells; Spectrum: 0
};

// Every source that could have sent this payload, the tables first in pattern order. The dark
// frame is in every table and every music mode draws it; the centre alone is in Star, NewStar
// and Pulse; the Levels frames are also columns of the Spectrum.
std::vector<FrameMatch> matchFrame(const unsigned char* payload);
std::string matchName(const FrameMatch& match);
const char* sourceName(int source);
int litCount(const unsigned char* payload);

struct FrameNaming {
    std::vector<FrameMatch> matches;
    int chosen = -1;  // index into matches, -1 when none could be picked
    std::string text; // "Star 2/3", "Star 0/3 | Levels 0/5 | NewStar 0/15", "Spectrum", "frame"
};

// A sender runs one mode at a time, so a frame that several sources share is named after the
// source of the last frame that only one source has. Until there is such a frame, all candidates
// are listed.
class FrameNamer {
  public:
    FrameNaming name(const unsigned char* payload);

  private:
    int lastSource_ = -1;
};

// Counts which distinct frames of which source were seen. Shared frames are settled at the end:
// they belong to whichever of their sources showed a frame of its own in the stream, so a run of
// Star that begins dark still reports all four Star frames.
class PatternTally {
  public:
    void add(const FrameNaming& naming, const unsigned char* payload);
    // "other=0 undecided=0 distinct_Star=4 distinct_Levels=0 distinct_NewStar=0
    // distinct_Spectrum=0 distinct_Pulse=0 patterns=Star"
    std::string summary() const;

  private:
    struct Shared {
        std::vector<FrameMatch> candidates;
        long seen;
    };
    std::set<std::string> unique_[kFrameSourceCount]; // payloads only that source has
    std::map<std::string, Shared> shared_;            // by payload
    long other_ = 0;
};

// The frame only one source can have sent, if there is one: a table frame of exactly one
// pattern, or a music shape that no table holds.
int soleSource(const std::vector<FrameMatch>& matches);
