// The frame a player makes for an embedded visualisation: an ordinary captioned top-level
// window at the rectangle the plugin asks for (or, with HostQuirks::embedInHostWindow, the
// host window itself, moved there). Like a player's frame it lays out its child: a
// new child goes to the client area's top-left corner; on a move the child keeps its place and
// size but still goes through a positioning pass (so it hears of the move); when the client
// area changes size, the child is made to fill it from the top-left corner.
#include "vis_host.h"

#include <algorithm>

namespace {

const char kFrameClass[] = "vishost frame";

// The client size last laid out, kept in the window's user data.
LONG_PTR packSize(const RECT& client) {
    return (LONG_PTR)MAKELONG((WORD)client.right, (WORD)client.bottom);
}

void layOutChild(HWND frame) {
    HWND child = GetWindow(frame, GW_CHILD);
    RECT client;
    GetClientRect(frame, &client);
    const bool resized = GetWindowLongPtrA(frame, GWLP_USERDATA) != packSize(client);
    SetWindowLongPtrA(frame, GWLP_USERDATA, packSize(client));
    if (child == NULL)
        return;
    if (resized)
        SetWindowPos(child, NULL, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    else
        SetWindowPos(child, NULL, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    layOutEmbedded(window, message, wParam, lParam);
    if (message == WM_CLOSE) {
        // The player ends the run and the plugin's Quit destroys the frame.
        if (VisHost* host = threadHost())
            host->frameClosed();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

void layOutEmbedded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        RECT client;
        GetClientRect(window, &client);
        SetWindowLongPtrA(window, GWLP_USERDATA, packSize(client));
        break;
    }
    case WM_PARENTNOTIFY:
        // The plugin places its window at its own idea of a position; the frame's content
        // belongs at the frame's corner.
        if (LOWORD(wParam) == WM_CREATE)
            SetWindowPos((HWND)lParam, NULL, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case WM_WINDOWPOSCHANGED: {
        const WINDOWPOS* pos = (const WINDOWPOS*)lParam;
        // Showing, hiding and re-stacking leave the layout alone.
        if ((pos->flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE))
            layOutChild(window);
        break;
    }
    }
}

void registerFrameClass(HINSTANCE instance) {
    WNDCLASSA frameClass;
    ZeroMemory(&frameClass, sizeof frameClass);
    frameClass.lpfnWndProc = frameProc;
    frameClass.hInstance = instance;
    frameClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);
}

HWND createFrameWindow(HINSTANCE instance, const RECT& rect) {
    return CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, rect.left,
                           rect.top, rect.right - rect.left, rect.bottom - rect.top, NULL, NULL,
                           instance, NULL);
}

HWND VisHost::embed(embedWindowState* state) {
    HWND frame = hostWindow_;
    if (quirks_.embedInHostWindow) {
        // Such a host puts its own window where the plugin asks and leaves the record's frame
        // field as it was: it records no frame.
        const RECT& r = state->r;
        SetWindowPos(hostWindow_, NULL, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (quirks_.reuseFrame && frameWindow() != NULL) {
        // The one frame stays where it is, and goes only when a plugin destroys it.
        frame = frameWindow();
        state->me = frame;
    } else {
        frame = createFrameWindow(GetModuleHandleA(NULL), state->r);
        state->me = frame;
    }
    // Frames that are gone are forgotten, so that a handle the platform hands out again is
    // never mistaken for one of them.
    frames_.erase(std::remove_if(frames_.begin(), frames_.end(),
                                 [frame](HWND old) { return !IsWindow(old) || old == frame; }),
                  frames_.end());
    frames_.push_back(frame);
    closeRequested_ = false;
    HostEvent event;
    event.kind = HostEvent::kFrame;
    event.rect = state->r;
    record(event);
    pendingFrame_.events = events_.size();
    pendingFrame_.history = history_.size();
    pendingFrame_.frame = frame;
    return frame;
}
