#include "modes.h"

#include "pulse_show.h"
#include "spectrum_show.h"

// ASCII letters alike in either case; the names compared are ASCII.
static bool sameIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (char)(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

const ListenMode* modeNamed(const std::string& name) {
    for (const ListenMode& mode : kListenModes)
        if (sameIgnoringCase(name, mode.name))
            return &mode;
    return nullptr;
}

const ListenMode& modeOf(ListenModeId id) {
    for (const ListenMode& mode : kListenModes)
        if (mode.id == id)
            return mode;
    return kListenModes[kModeLevels];
}

std::string modeNamesForPeople() {
    std::string names;
    for (int i = 0; i < kListenModeCount; ++i) {
        if (i > 0)
            names += i + 1 == kListenModeCount ? " or " : ", ";
        names += kListenModes[i].name;
    }
    return names;
}

std::unique_ptr<MusicShow> makeMusicShow(ListenModeId id) {
    switch (id) {
    case kModeSpectrum:
        return makeSpectrumShow();
    case kModePulse:
        return makePulseShow();
    default:
        return nullptr;
    }
}
