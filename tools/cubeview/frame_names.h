// Names received frames after the shared pattern tables ("Star 2/3": index / last index) and
// keeps the tally behind cubeview's summary line.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frames.h"

struct FrameMatch {
    CubePattern pattern;
    int index;
};

// Every table frame with exactly this payload, in pattern order. The dark frame is in all
// three tables and the centre-only frame in Star and NewStar, so a frame can have several.
std::vector<FrameMatch> matchFrame(const unsigned char* payload);
std::string matchName(const FrameMatch& match);
int litCount(const unsigned char* payload);

struct FrameNaming {
    std::vector<FrameMatch> matches;
    int chosen = -1;  // index into matches, -1 when none could be picked
    std::string text; // "Star 2/3", "Star 0/3 | Levels 0/5 | NewStar 0/15" or "unknown"
};

// A player runs one pattern at a time, so a frame that several patterns share is named after
// the pattern of the last frame that only one pattern has. Until there is such a frame, all
// candidates are listed.
class FrameNamer {
  public:
    FrameNaming name(const unsigned char* payload);

  private:
    int lastPattern_ = -1;
};

// Counts which frames of which pattern were seen. Shared frames are settled at the end: they
// belong to whichever of their patterns showed a frame of its own in the stream, so a run of
// Star that begins dark still reports all four Star frames.
class PatternTally {
  public:
    void add(const FrameNaming& naming);
    // "unknown=0 undecided=0 distinct_Star=4 distinct_Levels=0 distinct_NewStar=0 patterns=Star"
    std::string summary() const;

  private:
    std::set<int> unique_[kPatternCount];
    std::vector<std::pair<std::vector<FrameMatch>, long>> shared_; // candidates, times seen
    long unknown_ = 0;
};
