// What the plugin's files share: the host records, the settings, the window and back buffer,
// and the bound entry points of the cube library. Process-wide, never reset between runs.
#pragma once

#include "vis_module.h"

// module.cpp: the records the host reads, and the module that ran last (null until an init).
extern winampVisHeader hdr;
extern winampVisModule mod1, mod2, mod3;
extern winampVisModule* g_mod;

// settings.cpp: position of the frame on the screen and the cube's COM port.
extern int config_x, config_y, config_com;
void config_getinifn(winampVisModule* mod, char* buffer);
void config_read(winampVisModule* mod);
void config_write(winampVisModule* mod);
// The port `mod` would start on now: its section's, else the one in memory. Changes nothing.
int config_port_of(winampVisModule* mod);

// window.cpp: the plugin's window inside the host's frame, its back buffer, and the host's
// requests (a WM_USER message to the host window with the request's code).
extern int width, height;
extern embedWindowState myWindowState;
extern HWND hMainWnd;
extern HDC memDC;
extern HBITMAP memBM, oldBM;
extern int random_presets_flag;
extern char szAppName[];
LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT send_request(HWND host, WPARAM wParam, int request);

// screen.cpp: a saved position that no monitor shows becomes the nearest monitor's corner.
void keep_on_screen(int* x, int* y, int width, int height);

// run.cpp: starting a module's run, undoing a failed start, and ending the run.
int __cdecl init(winampVisModule* mod);
void __cdecl quit(winampVisModule* mod);
// True while `mod` is the module whose run is in progress: from its successful init to its
// quit. Outside that the window and back buffer handles are stale or null.
bool is_running(const winampVisModule* mod);

// binding.cpp: the cube library, loaded by name. Null until bound. Of the library's results
// only Open's is used, to tell the user why the port did not open.
typedef int(__cdecl* OpenEntry)(int port);
typedef int(__cdecl* CloseEntry)(void);
typedef int(__cdecl* PatternEntry)(int level);
typedef int(__cdecl* SendCharEntry)(char byte);
extern HMODULE myLib;
extern OpenEntry initP;
extern CloseEntry exitP;
extern PatternEntry setStarP, setLevelP, setNewStarP;
extern SendCharEntry sendCharP;
int Init(void);
void close_device(void); // the stop byte, then the port closed; skips what is not bound

// render.cpp: one per module.
int __cdecl render1(winampVisModule* mod);
int __cdecl render2(winampVisModule* mod);
int __cdecl render3(winampVisModule* mod);

enum {
    kMessageSize = 255, // every formatted message box text
    kNumberSize = 32,   // a formatted setting
};
