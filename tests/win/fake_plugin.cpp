// fakevis.dll: the smallest visualisation plugin that uses every host service, so the
// stand-in host can be tested on its own. Module 0 embeds a 200 x 100 window at (60, 70);
// module 1 is the same with another render entry point.
//   Init      asks for the embedding function (505), makes the frame and a child window,
//             shows one box "Ready\nto \"go\"" (caption "Fake", one OK button).
//   Render    paints the child black when waveform byte 0 of channel 0 is 0, else white;
//             returns waveform byte 1 of channel 0, so a script can ask it to stop.
//   Config    shows a box whose type is the next of a fixed list each time.
//   Quit      sends request 611 and destroys the frame.
// The child forwards WM_KEYDOWN/WM_KEYUP to the host; WM_COMMAND 1 sends request 631 with
// word parameter 7, WM_COMMAND 2 sends request 501 and shows the answer in a box; every
// WM_WINDOWPOSCHANGING stores the frame's left/top, which WM_COMMAND 3 returns as x*10000+y.
#include <windows.h>

#include "vis_module.h"

static int __cdecl fakeInit(winampVisModule* mod);
static int __cdecl fakeRender(winampVisModule* mod);
static int __cdecl fakeRenderOther(winampVisModule* mod);
static void __cdecl fakeConfig(winampVisModule* mod);
static void __cdecl fakeQuit(winampVisModule* mod);

static char kDescription[] = "Fake plugin";
static char kModuleName[] = "Fake";
static char kOtherName[] = "Other";
static const char kChildClass[] = "fakevis child";

static winampVisModule module0 = {kModuleName, NULL,       NULL,     0,     0,     10,
                                  20,          0,          2,        {{0}}, {{0}}, fakeConfig,
                                  fakeInit,    fakeRender, fakeQuit, NULL};
static winampVisModule module1 = {
    kOtherName,      NULL,     NULL, 0, 0, 30, 40, 0, 2, {{0}}, {{0}}, fakeConfig, fakeInit,
    fakeRenderOther, fakeQuit, NULL};

static winampVisModule* __cdecl getModule(int index) {
    return index == 0 ? &module0 : index == 1 ? &module1 : NULL;
}

static winampVisHeader header = {kVisHeaderVersion, kDescription, getModule};
static embedWindowState frameState;
static HWND child;
static winampVisModule* running;
static LRESULT framePosition;

static LRESULT CALLBACK childProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
        PostMessageA(running->hwndParent, message, wParam, lParam);
        return 0;
    case WM_WINDOWPOSCHANGING: {
        RECT r;
        GetWindowRect(frameState.me, &r);
        framePosition = r.left * 10000 + r.top;
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == 1) {
            SendMessageA(running->hwndParent, WM_USER, 7, 631);
        } else if (LOWORD(wParam) == 2) {
            char text[32];
            wsprintfA(text, "video %d", (int)SendMessageA(running->hwndParent, WM_USER, 0, 501));
            MessageBoxA(running->hwndParent, text, "Video", MB_OK);
        } else if (LOWORD(wParam) == 3) {
            return framePosition;
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(3);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int __cdecl fakeInit(winampVisModule* mod) {
    running = mod;
    embedWindowFunction embed =
        (embedWindowFunction)SendMessageA(mod->hwndParent, WM_USER, 0, kRequestEmbedFunction);
    if (embed == NULL) {
        MessageBoxA(mod->hwndParent, "no embedding", "Fake", MB_OK);
        return 1;
    }
    SetRect(&frameState.r, 60, 70, 260, 170);
    HWND frame = embed(&frameState);
    SetWindowTextA(frameState.me, mod->description);
    WNDCLASSA childClass;
    ZeroMemory(&childClass, sizeof childClass);
    childClass.lpfnWndProc = childProc;
    childClass.hInstance = mod->hDllInstance;
    childClass.lpszClassName = kChildClass;
    RegisterClassA(&childClass);
    child = CreateWindowExA(0, kChildClass, NULL, WS_CHILD | WS_VISIBLE, 0, 0, 200, 100, frame,
                            NULL, mod->hDllInstance, NULL);
    ShowWindow(frame, SW_SHOWNORMAL);
    MessageBoxA(mod->hwndParent, "Ready\nto \"go\"", "Fake", MB_OK);
    return 0;
}

static int paintChild(winampVisModule* mod) {
    HDC dc = GetDC(child);
    RECT client;
    GetClientRect(child, &client);
    FillRect(dc, &client,
             (HBRUSH)GetStockObject(mod->waveformData[0][0] == 0 ? BLACK_BRUSH : WHITE_BRUSH));
    ReleaseDC(child, dc);
    return mod->waveformData[0][1];
}

static int __cdecl fakeRender(winampVisModule* mod) {
    return paintChild(mod);
}

static int __cdecl fakeRenderOther(winampVisModule* mod) {
    return paintChild(mod);
}

static void __cdecl fakeConfig(winampVisModule* mod) {
    static const UINT types[] = {
        MB_OK,                            // plain
        MB_OKCANCEL | MB_ICONEXCLAMATION, // warning with two buttons
        MB_YESNO | MB_ICONQUESTION,       // question, no OK button
        MB_ICONHAND,                      // stop sign
    };
    static int next;
    const UINT type = types[next++ % (sizeof types / sizeof types[0])];
    char text[32];
    wsprintfA(text, "type %u", type);
    MessageBoxA(mod->hwndParent, text, "Config", type);
}

static void __cdecl fakeQuit(winampVisModule* mod) {
    SendMessageA(mod->hwndParent, WM_USER, 0, kRequestModuleStopped);
    DestroyWindow(frameState.me);
    UnregisterClassA(kChildClass, mod->hDllInstance);
}

extern "C" __declspec(dllexport) winampVisHeader* __cdecl winampVisGetHeader(void) {
    return &header;
}
