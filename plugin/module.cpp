// What the host sees first: the header, the three module records and the about box.
#include "globals.h"

static void __cdecl config(winampVisModule* mod);
static winampVisModule* __cdecl getModule(int index);

// The records hold `char*`; these are never written through.
static char headerDescription[] = "LED-Lumo 5 - Visualization";
static char starDescription[] = "Star";
static char levelsDescription[] = "Levels";
static char newStarDescription[] = "NewStar";

winampVisHeader hdr = {kVisHeaderVersion, headerDescription, getModule};

// The host fills the parent window, instance, sample rate, channel count and data while the
// plugin runs, so the records stay writable. No spectrum, two channels of waveform.
// clang-format off
winampVisModule mod1 = {starDescription, NULL, NULL, 0, 0, 15, 15, 0, 2, {}, {},
                        config, init, render1, quit, NULL};
winampVisModule mod2 = {levelsDescription, NULL, NULL, 0, 0, 50, 50, 0, 2, {}, {},
                        config, init, render2, quit, NULL};
winampVisModule mod3 = {newStarDescription, NULL, NULL, 0, 0, 25, 25, 0, 2, {}, {},
                        config, init, render3, quit, NULL};
// clang-format on

winampVisModule* g_mod = NULL;

static winampVisModule* __cdecl getModule(int index) {
    switch (index) {
    case 0:
        return &mod1;
    case 1:
        return &mod2;
    case 2:
        return &mod3;
    default:
        return NULL;
    }
}

static const char kAboutFormat[] = "LED-Lumo 5 - Visualisation Plugin\n"
                                   "(c) 2026 the lumo developers\n"
                                   "Drives a 5x5x5 LED cube on a serial port\n"
                                   "Currently using COM%d\n"
                                   "To change Configuration, please edit the lumo.ini \n"
                                   "File in the Plugins Folder";
// "%d" becomes at most 11 characters ("-2147483648").
static_assert(sizeof kAboutFormat - 2 + 11 <= kMessageSize, "the about text must fit its buffer");

// The about box is all the configuration there is: the port comes from the settings file. It
// shows the port its module would use if started now, and only reads: another module may be
// running on the port held in memory.
static void __cdecl config(winampVisModule* mod) {
    char text[kMessageSize];
    wsprintfA(text, kAboutFormat, config_port_of(mod));
    MessageBoxA(mod->hwndParent, text, "Configuration", MB_OK);
}

extern "C" __declspec(dllexport) winampVisHeader* __cdecl winampVisGetHeader(void) {
    return &hdr;
}
