// What the listener tells its user: one line each on standard output when that goes somewhere
// (a script, a test), the tray's tooltip for the state, a balloon for a failure. Never a box:
// a program that starts at logon must not stop the logon.
#pragma once

#include <string>

#include <windows.h>

// What the tooltip shows. Each field is set by the thread that knows it.
struct ListenStatus {
    std::string mode;      // "Levels"
    int port = 0;          // COM port number
    std::string listening; // "what this PC plays (Speakers)"
    bool lit = false;      // the port is open and frames go out
};

// After this, reports from any thread reach `window` as kTellMessage, whose handler is
// handleTell(); before it they are written out at once.
void reportTo(HWND window);
enum { kTellMessage = WM_APP + 1, kStatusMessage = WM_APP + 2 };

// From any thread. A failure also pops a balloon; news and failures go to standard output.
void tellNews(const std::string& text);
void tellFailure(const std::string& text);
// The tray thread's side: the message's parameters, as tellNews and tellFailure posted them.
void handleTell(WPARAM wParam, LPARAM lParam);

// From any thread: change the status; the tooltip follows.
void setStatusMode(const std::string& mode);
void setStatusPort(int port);
void setStatusListening(const std::string& listening);
void setStatusLit(bool lit);
ListenStatus currentStatus();
// "Lumo Listen: Levels on COM3, cube lit" and a second line with what it listens to.
std::wstring statusTooltip(const ListenStatus& status);

// Standard output, when something reads it; false when nothing does.
bool outputRedirected();
void writeOutputLine(const std::string& text);
