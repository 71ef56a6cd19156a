// Where the frame goes on the screen: where the settings say, unless no monitor shows any of it.
#include <limits.h>

#include "globals.h"

// A position saved on a monitor that is gone (a laptop that was docked, a projector) would open
// the frame where nobody can see or reach it, run after run. Such a frame goes to the corner
// of the work area of the monitor nearest to it, its size kept; a frame that any monitor shows
// even a part of, a monitor left of or above the primary one included, stays as it was saved.
void keep_on_screen(int* x, int* y, int width, int height) {
    long long right = (long long)*x + width, bottom = (long long)*y + height;
    // A position so far out that the frame's far edge is beyond the platform's coordinates is
    // off every screen.
    bool representable = right <= LONG_MAX && bottom <= LONG_MAX;
    RECT saved = {*x, *y, representable ? (LONG)right : LONG_MAX,
                  representable ? (LONG)bottom : LONG_MAX};
    if (representable && MonitorFromRect(&saved, MONITOR_DEFAULTTONULL) != NULL)
        return;
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromRect(&saved, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    *x = monitor.rcWork.left;
    *y = monitor.rcWork.top;
}
