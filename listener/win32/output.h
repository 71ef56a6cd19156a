// How the Windows listener says what it tells: one line each on standard output when that goes
// somewhere (a script, a test), the tray's tooltip for the state, a balloon for a failure. Never
// a box: a program that starts at logon must not stop the logon.
#pragma once

#include <string>

#include <windows.h>

#include "report.h"

// After this, reports from any thread reach `window` as kTellMessage, whose handler is
// handleTell(), and status changes as kStatusMessage; before it they are written out at once.
void reportTo(HWND window);
enum { kTellMessage = WM_APP + 1, kStatusMessage = WM_APP + 2 };
// The tray thread's side: the message's parameters, as tellNews and tellFailure posted them.
void handleTell(WPARAM wParam, LPARAM lParam);

// The status as the tray keeps a tooltip: at most 127 characters.
std::wstring statusTooltip(const ListenStatus& status);

// Standard output, when something reads it; false when nothing does.
bool outputRedirected();
void writeOutputLine(const std::string& text);
