// The modes the listener shows: the player's three, each a pattern drawn from one level at the
// plugin's own pace, and the music modes, which read the whole mix and draw frames of their own.
#pragma once

#include <memory>
#include <string>

#include "frames.h"
#include "music_show.h"

enum ListenModeId {
    kModeStar,
    kModeLevels,
    kModeNewStar,
    kModeSpectrum,
    kModePulse,
};

struct ListenMode {
    ListenModeId id;
    const char* name;     // as the tray and the settings name it
    const char* menuText; // with its underlined letter
    int delayMs;          // one frame each
    CubePattern pattern;  // the player's modes: the pattern the level selects
    bool music;           // the music modes: a MusicShow draws the frames
};

static const ListenMode kListenModes[] = {
    {kModeStar, "Star", "&Star", 15, kPatternStar, false},             // the 3D cross
    {kModeLevels, "Levels", "&Levels", 50, kPatternLevels, false},     // planes from the floor
    {kModeNewStar, "NewStar", "&NewStar", 25, kPatternNewStar, false}, // seven lines
    {kModeSpectrum, "Spectrum", "Sp&ectrum", kMusicFrameMs, kPatternCount, true}, // 25 bands
    {kModePulse, "Pulse", "P&ulse", kMusicFrameMs, kPatternCount, true}, // shells on the beat
};
enum { kListenModeCount = sizeof kListenModes / sizeof kListenModes[0] };

// The mode of that name (exactly as listed, or in any case), or null.
const ListenMode* modeNamed(const std::string& name);
const ListenMode& modeOf(ListenModeId id);
// "Star, Levels, NewStar, Spectrum or Pulse"
std::string modeNamesForPeople();
// A fresh show for a music mode; null for the player's modes.
std::unique_ptr<MusicShow> makeMusicShow(ListenModeId id);
