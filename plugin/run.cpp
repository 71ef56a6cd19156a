// A module's run, from init to quit: the host's frame with the plugin's window and back buffer
// in it, the cube library bound and its port opened; a failed start undone; the end of a run.
#include "globals.h"

enum {
    kNewStarWidth = 256,
    kNewStarHeight = 32,
    kWindowWidth = 288,
    kWindowHeight = 256,
    kChildWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
};

// The running module's frame, from a successful init to the quit that ends it.
static HWND runningFrame = NULL;

// How far a start got, in the order things are made.
enum StartProgress {
    kMadeFrame,
    kRegisteredClass,
    kMadeWindowAndBuffer,
};

// A failed start lets go of what it made, newest first, so that the next start can register
// the class again and nothing of the failed one lingers on the screen. The handles are cleared
// as they go, so that nothing later draws into or destroys what is gone.
static void undo_start(winampVisModule* mod, StartProgress made) {
    if (made >= kMadeWindowAndBuffer) {
        SelectObject(memDC, oldBM);
        DeleteDC(memDC);
        DeleteObject(memBM);
        memDC = NULL;
        memBM = oldBM = NULL;
        SetWindowLongPtrA(hMainWnd, GWLP_USERDATA, 0);
        DestroyWindow(hMainWnd);
        hMainWnd = NULL;
    }
    if (made >= kRegisteredClass)
        UnregisterClassA(szAppName, mod->hDllInstance);
    // Of the host's windows only the frame that the host recorded as made for us goes, as at
    // quit. Some hosts embed into their own main window and record no frame: destroying what
    // the embedding merely returned would end the host. A host may also hand the running
    // module's frame out again; that one is not ours to destroy either.
    if (myWindowState.me && myWindowState.me != runningFrame)
        DestroyWindow(myWindowState.me);
    myWindowState.me = NULL;
}

static int fail_start(winampVisModule* mod, const char* text) {
    MessageBoxA(mod->hwndParent, text, "blah", MB_OK);
    return 1;
}

static int start_module(winampVisModule* mod) {
    bool newStar = mod == &mod3;
    width = newStar ? kNewStarWidth : kWindowWidth;
    height = newStar ? kNewStarHeight : kWindowHeight;
    g_mod = mod;
    config_read(mod);
    keep_on_screen(&config_x, &config_y, width, height);

    myWindowState.r.left = config_x;
    myWindowState.r.top = config_y;
    myWindowState.r.right = config_x + width;
    myWindowState.r.bottom = config_y + height;
    LRESULT embedAddress = send_request(mod->hwndParent, 0, kRequestEmbedFunction);
    if (embedAddress == 0)
        return fail_start(mod, "This plugin requires Winamp 5.0+");
    embedWindowFunction embed = (embedWindowFunction)embedAddress;
    // A host that records no frame must not leave the last run's, long destroyed, in the
    // record: it would be titled, tracked and destroyed in place of a frame of this run.
    myWindowState.me = NULL;
    HWND frame = embed(&myWindowState);
    SetWindowTextA(myWindowState.me, mod->description);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = mod->hDllInstance;
    windowClass.lpszClassName = szAppName;
    if (!RegisterClassA(&windowClass)) {
        fail_start(mod, "Error registering window class");
        undo_start(mod, kMadeFrame);
        return 1;
    }

    hMainWnd = CreateWindowExA(0, szAppName, NULL, kChildWindowStyle, config_x, config_y, width,
                               height, frame, NULL, mod->hDllInstance, NULL);
    if (hMainWnd == NULL) {
        fail_start(mod, "Error creating window");
        undo_start(mod, kRegisteredClass);
        return 1;
    }
    SetWindowLongPtrA(hMainWnd, GWLP_USERDATA, (LONG_PTR)mod);

    // The frame decides the window's outer size; grow it until the client area is exact.
    RECT client;
    GetClientRect(hMainWnd, &client);
    SetWindowPos(hMainWnd, NULL, 0, 0, 2 * width - client.right, 2 * height - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER);

    // Made once per run and kept: rendering draws into it, painting copies it.
    memDC = CreateCompatibleDC(NULL);
    memBM = CreateCompatibleBitmap(memDC, width, height);
    oldBM = (HBITMAP)SelectObject(memDC, memBM);
    RECT whole = {0, 0, width, height};
    FillRect(memDC, &whole, (HBRUSH)GetStockObject(WHITE_BRUSH));

    ShowWindow(frame, SW_SHOWNORMAL);

    if (Init() != 0) {
        undo_start(mod, kMadeWindowAndBuffer);
        return 1;
    }
    return 0;
}

// True from a successful init to the quit that ends it.
static bool moduleRunning = false;

bool is_running(const winampVisModule* mod) {
    return moduleRunning && mod == g_mod;
}

// What a second start while a module runs overwrites before it fails at the class. Of the
// frame record only what the plugin itself fills in; the rest is the host's.
struct RunState {
    winampVisModule* module;
    int width, height;
    int x, y, com;
    HWND frame;
    RECT frameRect;
};

int __cdecl init(winampVisModule* mod) {
    RunState running = {g_mod,    width,      height,           config_x,
                        config_y, config_com, myWindowState.me, myWindowState.r};
    bool wasRunning = moduleRunning;
    int result = start_module(mod);
    if (result == 0) {
        moduleRunning = true;
        runningFrame = myWindowState.me;
    } else if (wasRunning) {
        // The running module carries on with its own record, size, settings and frame.
        g_mod = running.module;
        width = running.width;
        height = running.height;
        config_x = running.x;
        config_y = running.y;
        config_com = running.com;
        myWindowState.me = running.frame;
        myWindowState.r = running.frameRect;
        // A host may have handed the running module's own frame to the failed start, which
        // titled it after itself.
        if (runningFrame != NULL)
            SetWindowTextA(runningFrame, running.module->description);
    }
    return result;
}

// Only the run in progress ends. A quit after a failed start (or for a module other than the
// one running) finds no run of its own: it tells the host nothing, leaves the cube and the
// other module's window alone, and writes no settings for a run that never was.
void __cdecl quit(winampVisModule* mod) {
    if (!is_running(mod))
        return;
    send_request(mod->hwndParent, 0, kRequestModuleStopped);
    close_device();
    config_write(mod);

    SelectObject(memDC, oldBM);
    DeleteDC(memDC);
    DeleteObject(memBM);
    // The plugin's window goes with its frame. The frame's last moves are no longer saved.
    if (myWindowState.me) {
        SetForegroundWindow(g_mod->hwndParent);
        DestroyWindow(myWindowState.me);
    } else {
        // No frame takes the window with it (a host that embeds into its own window): the
        // window goes on its own, or the class could not go and the next start would fail
        // at it. Taken out of its module first, it tells no thread to quit: the loop is the
        // host's own, and it carries on.
        SetWindowLongPtrA(hMainWnd, GWLP_USERDATA, 0);
        DestroyWindow(hMainWnd);
    }
    UnregisterClassA(szAppName, mod->hDllInstance);
    moduleRunning = false;
    runningFrame = NULL;
}
