// The player's visualisation plugin interface: the records it shares with a plugin, and the
// requests and commands that pass between them. Written from the player's published layouts;
// the stand-in host (host/) includes this same header.
#pragma once

#include <stddef.h>
#include <windows.h>

struct winampVisModule {
    char* description;
    HWND hwndParent;        // takes the plugin's requests, owns its message boxes
    HINSTANCE hDllInstance; // the plugin library's own module handle
    int sRate;
    int nCh;
    int latencyMs;
    int delayMs;
    int spectrumNch;
    int waveformNch;
    unsigned char spectrumData[2][576];
    unsigned char waveformData[2][576];
    void(__cdecl* Config)(winampVisModule* mod);
    int(__cdecl* Init)(winampVisModule* mod);   // 0: running; non-zero: failed
    int(__cdecl* Render)(winampVisModule* mod); // 0: go on
    void(__cdecl* Quit)(winampVisModule* mod);
    void* userData;
};

struct winampVisHeader {
    int version;
    char* description;
    winampVisModule*(__cdecl* getModule)(int index);
};

struct embedWindowState {
    HWND me; // the frame window, filled in by the host's embedding function
    int flags;
    RECT r; // the frame's rectangle in screen coordinates, filled in by the plugin
    void* user_ptr;
    int extra_data[64];
};

typedef winampVisHeader*(__cdecl* winampVisGetHeaderType)(void);
typedef HWND(__cdecl* embedWindowFunction)(embedWindowState* state);

static const int kVisHeaderVersion = 0x101;
static const int kWaveformSamples = 576;

// Requests: WM_USER sent to the module's parent window, the code in the long parameter.
enum HostRequest {
    kRequestFullscreenBlocked = 501, // result > 1 while a video plays
    kRequestEmbedFunction = 505,     // result: the embedding function, or 0
    kRequestModuleStopped = 611,
    kRequestReportRandom = 628, // word parameter: the random-presets flag
    kRequestGoFullscreen = 631, // word parameter 1
};

// Commands the host sends to the plugin's window as WM_COMMAND (identifier in the low word).
enum HostCommand {
    kCommandNextPreset = 40382,
    kCommandPreviousPreset = 40383,
    kCommandRandomPresets = 40384, // high word 0xFFFF: query; otherwise set on/off
    kCommandFullscreen = 40389,
    kCommandConfiguration = 40390,
    kCommandPopupMenu = 40391,
};

#if defined(_WIN32) && !defined(_WIN64)
// The player is 32-bit: these are the offsets it reads and writes.
static_assert(sizeof(winampVisModule) == 2360, "module record layout");
static_assert(offsetof(winampVisModule, waveformData) == 1188, "module record layout");
static_assert(offsetof(winampVisModule, Config) == 2340, "module record layout");
static_assert(offsetof(winampVisModule, Init) == 2344, "module record layout");
static_assert(offsetof(winampVisModule, userData) == 2356, "module record layout");
static_assert(sizeof(winampVisHeader) == 12, "header record layout");
static_assert(sizeof(embedWindowState) == 284, "embedded frame record layout");
static_assert(offsetof(embedWindowState, r) == 8, "embedded frame record layout");
static_assert(offsetof(embedWindowState, user_ptr) == 24, "embedded frame record layout");
#endif
