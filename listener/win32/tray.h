// The tray icon, its menu and the hidden window behind them, on the program's main thread.
#pragma once

#include <string>

#include <windows.h>

#include <mmdeviceapi.h>

#include "settings.h"

// The window and the icon; the menu lists the recording devices `enumerator` finds (it may be
// null: no audio service). False when there is no window (no desktop at all).
bool createTray(HINSTANCE instance, const ListenSettings& settings,
                IMMDeviceEnumerator* enumerator);
// The message loop, until Quit from the menu, the session's end, or `seconds` (0: no limit).
// Returns when the cube's port is closed.
void runTray(double seconds);
void removeTray();
// A balloon from the icon; from the tray's thread only (report.cpp posts it there).
void showBalloon(const std::string& text);
