// The plugin's window inside the host's frame, its back buffer, the window procedure and the
// host's commands.
#include "globals.h"

int width = 0;
int height = 0;
embedWindowState myWindowState;
HWND hMainWnd = NULL;
HDC memDC = NULL;
HBITMAP memBM = NULL;
HBITMAP oldBM = NULL;
int random_presets_flag = 0;
char szAppName[] = "LED-Lumo Visualisation";
static_assert(sizeof szAppName == 23, "the window class name");

LRESULT send_request(HWND host, WPARAM wParam, int request) {
    return SendMessageA(host, WM_USER, wParam, request);
}

// --- Host commands. The plugin has no presets, dialog or menu of its own.

static void next_preset(void) {}
static void previous_preset(void) {}
static void load_random_preset(void) {}
static void open_configuration(void) {}
static void open_popup_menu(void) {}

static void set_random(int on) {
    random_presets_flag = on;
}

static void go_fullscreen(void) {
    HWND host = g_mod->hwndParent;
    if ((int)send_request(host, 0, kRequestFullscreenBlocked) > 1) {
        MessageBoxA(host, "Can't go fullscreen while video is playing", "SVis", MB_OK);
        return;
    }
    send_request(host, 1, kRequestGoFullscreen);
}

static void random_presets(WORD setting) {
    if (setting == 0xFFFF) {
        send_request(g_mod->hwndParent, random_presets_flag, kRequestReportRandom);
        return;
    }
    set_random(setting != 0 ? 1 : 0);
    if (random_presets_flag)
        load_random_preset();
}

static void command(WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case kCommandNextPreset:
        next_preset();
        break;
    case kCommandPreviousPreset:
        previous_preset();
        break;
    case kCommandRandomPresets:
        random_presets(HIWORD(wParam));
        break;
    case kCommandFullscreen:
        go_fullscreen();
        break;
    case kCommandConfiguration:
        open_configuration();
        break;
    case kCommandPopupMenu:
        open_popup_menu();
        break;
    default: // 40385 to 40388 and anything unknown
        break;
    }
}

// --- The window procedure.

// Painting only copies the back buffer; a client area larger than it is white beyond it.
static void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    BitBlt(dc, 0, 0, client.right, client.bottom, memDC, 0, 0, SRCCOPY);
    HBRUSH white = (HBRUSH)GetStockObject(WHITE_BRUSH);
    RECT right = {client.left + width, client.top, client.right, client.bottom};
    FillRect(dc, &right, white);
    RECT below = {client.left, client.top + height, client.right, client.bottom};
    FillRect(dc, &below, white);
    EndPaint(hwnd, &ps);
}

// The settings keep the frame's position, not the window's.
static void track_frame_position(void) {
    RECT frame;
    if (GetWindowRect(myWindowState.me, &frame)) {
        config_x = frame.left;
        config_y = frame.top;
    }
}

static void forward_key(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    winampVisModule* mod = (winampVisModule*)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    if (mod)
        PostMessageA(mod->hwndParent, message, wParam, lParam);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        // Only the end of a run tells the thread to quit. A failed start takes the module out
        // of its window first: the host's message loop must carry on after it.
        if (GetWindowLongPtrA(hwnd, GWLP_USERDATA))
            PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        paint(hwnd);
        return 0;
    case WM_ERASEBKGND: // painting covers the whole client area
        return 0;
    case WM_WINDOWPOSCHANGING:
        track_frame_position();
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
        forward_key(hwnd, message, wParam, lParam);
        return 0;
    case WM_COMMAND:
        command(wParam);
        return DefWindowProcA(hwnd, message, wParam, lParam);
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
