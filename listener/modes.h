// The three modes the listener shows, as the plugin's module records have them: the pattern and
// how often a frame goes out.
#pragma once

#include <string>

#include "frames.h"

struct ListenMode {
    CubePattern pattern;
    const char* name; // as the player lists the plugin's modes
    int delayMs;      // the module record's delay: one frame each
};

static const ListenMode kListenModes[] = {
    {kPatternStar, "Star", 15},       // the three-dimensional cross
    {kPatternLevels, "Levels", 50},   // planes filling from the bottom
    {kPatternNewStar, "NewStar", 25}, // seven lines through the centre
};
enum { kListenModeCount = sizeof kListenModes / sizeof kListenModes[0] };

// The mode of that name (exactly as listed, or in any case), or null.
const ListenMode* modeNamed(const std::string& name);
const ListenMode& modeOf(CubePattern pattern);
