// The three render modes: a two-sided level meter in the window, channel 0's level to the cube.
#include "globals.h"
#include "level.h"

enum {
    kMeterWidth = 256,
    kMeterHeight = 32,
    kMeterCentre = 128, // channel 0 grows to the left of it, channel 1 to the right
};

// No pen or brush is ever selected into the back buffer, so every box is black on white; the
// background box drawn first wipes the previous call's bars.
static int render_meter(winampVisModule* mod, PatternEntry device) {
    // Some hosts render after a failed start, or a module that is not the one running. There
    // is no window of that run to draw into (a null window's DC is the whole screen) and no
    // cube line of its own.
    if (!is_running(mod))
        return 0;
    Rectangle(memDC, 0, 0, kMeterWidth, kMeterHeight);

    int left = channel_level(mod->waveformData[0]);
    Rectangle(memDC, kMeterCentre - left, 0, kMeterCentre, kMeterHeight);
    // Unbound after a failed binding: the meter is still drawn, the cube is left alone.
    if (device)
        device(left);

    int right = channel_level(mod->waveformData[1]);
    Rectangle(memDC, kMeterCentre, 0, kMeterCentre + right, kMeterHeight);

    HDC windowDC = GetDC(hMainWnd);
    BitBlt(windowDC, 0, 0, kMeterWidth, kMeterHeight, memDC, 0, 0, SRCCOPY);
    ReleaseDC(hMainWnd, windowDC);
    return 0;
}

int __cdecl render1(winampVisModule* mod) {
    return render_meter(mod, setStarP);
}
int __cdecl render2(winampVisModule* mod) {
    return render_meter(mod, setLevelP);
}
int __cdecl render3(winampVisModule* mod) {
    return render_meter(mod, setNewStarP);
}
