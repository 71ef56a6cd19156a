// The stand-in for the media player, as far as a visualisation plugin sees it: a host window
// that answers the plugin's requests and takes its forwarded keys, the embedding function
// that makes the frame window, message boxes caught and read, and the calls into the module
// records. Everything runs on the thread that made the VisHost, as in the player.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "box_watch.h"
#include "vis_module.h"

// Ways in which other programs that host these plugins differ from the player, one switch
// each, so that the plugin can be run as they run it.
struct HostQuirks {
    // The embedding function hands out the host's own main window and records no frame in
    // the record's frame field: the plugin's window becomes a child of the host window.
    bool embedInHostWindow = false;
    // Config is called before every Init, so the about box comes first.
    bool configBeforeInit = false;
    // Init's result is not looked at: Render and Quit follow a failed Init as a good one.
    bool ignoreInitResult = false;
    // The embedding function hands out the frame it made before, while that still exists, to
    // every start: the host has one visualisation frame.
    bool reuseFrame = false;
};

struct HostEvent {
    enum Kind { kRequest, kBox, kKey, kFrame, kQuitMessage };
    Kind kind;
    // kRequest: the request code, its word parameter and our answer (the embedding function
    // counts as 1). kKey: any keyboard message (WM_KEYDOWN, WM_CHAR, WM_SYSKEYDOWN, ...) that
    // reached the host window: the message, its word and long parameters. kQuitMessage: the exit
    // code posted with PostQuitMessage.
    unsigned message = 0;
    unsigned long long wParam = 0;
    long long value = 0;
    // kBox: whose box it was ("parent", "frame", "plugin", "none" or a handle in hex).
    std::string owner, caption, text;
    unsigned type = 0;
    // kFrame: the rectangle the plugin asked for and the frame's title once init returned.
    RECT rect = {0, 0, 0, 0};
    std::string title;
};

// One line: "request 505 0 result=1", "box owner=parent caption="Info" text="..." type=0",
// "key 256 65 1966081", "frame 50 50 338 306 title="Star"", "quitmessage 0". Texts are quoted
// with \\, \", \n, \r, \t and \xNN escapes.
std::string describeEvent(const HostEvent& event);

// A text in double quotes with those escapes.
std::string quoteText(const std::string& text);

class VisHost {
  public:
    VisHost(); // one per thread; makes the host window and starts watching for boxes
    ~VisHost();
    VisHost(const VisHost&) = delete;
    VisHost& operator=(const VisHost&) = delete;

    // Loads the plugin library and reads its header. On failure says why.
    bool load(const std::string& path, std::string* error);
    HMODULE library() const { return library_; }
    winampVisHeader* header() const { return header_; }
    // The record for an index, with the host's fields filled in; null when the plugin has none.
    winampVisModule* module(int index);

    // How the host answers: request 505 with the embedding function or 0; request 501 with
    // `video` (more than 1 while a video plays); message boxes pressed or left to the user.
    void setEmbedAvailable(bool on) { embedAvailable_ = on; }
    void setVideoAnswer(LRESULT video) { videoAnswer_ = video; }
    void setAutoAnswer(bool on) { boxes_.setAutoAnswer(on); }
    void setAudioFormat(int sampleRate, int channels);
    void setQuirks(const HostQuirks& quirks) { quirks_ = quirks; }
    const HostQuirks& quirks() const { return quirks_; }

    // The entry points, each followed by a pass of the message loop.
    void config(winampVisModule* mod);
    int init(winampVisModule* mod);
    int render(winampVisModule* mod);
    void quit(winampVisModule* mod);

    // Dispatches every waiting message; `waitMs` > 0 keeps doing so until that time is up.
    void pumpMessages(DWORD waitMs = 0);

    HWND hostWindow() const { return hostWindow_; }
    // The newest frame that still exists: when a second embedding's frame is destroyed (a
    // failed start while a module runs), the running module's frame again; null when none is.
    // Embedding into the host window, that window once it has been handed out.
    HWND frameWindow() const;
    HWND pluginWindow() const; // that frame's child
    // True once the person closed the frame: a player then ends the run.
    bool frameCloseRequested() const { return closeRequested_; }

    // Events since the last call, in the order they happened; all of them for the report.
    std::vector<HostEvent> takeEvents();
    const std::vector<HostEvent>& history() const { return history_; }
    std::string ownerName(HWND owner) const;

    // Internal: the window procedures, the embedding function and the box watch call these.
    LRESULT request(WPARAM wParam, LPARAM code);
    void keyForwarded(UINT message, WPARAM wParam, LPARAM lParam);
    HWND embed(embedWindowState* state);
    void frameClosed() { closeRequested_ = true; }

  private:
    void prepare(winampVisModule* mod);
    void record(const HostEvent& event);

    HWND hostWindow_ = NULL;
    HMODULE library_ = NULL;
    winampVisHeader* header_ = nullptr;
    BoxWatch boxes_;
    bool embedAvailable_ = true;
    LRESULT videoAnswer_ = 0;
    HostQuirks quirks_;
    int sampleRate_ = 44100;
    int channels_ = 2;
    std::vector<HWND> frames_; // every frame made, oldest first
    bool closeRequested_ = false;
    struct PendingFrame { // index + 1 of a frame event waiting for its title, or 0
        size_t events = 0;
        size_t history = 0;
        HWND frame = NULL;
    } pendingFrame_;
    std::vector<HostEvent> events_;
    std::vector<HostEvent> history_;
};

// The host made on this thread, or null: for the window procedures and the embedding function,
// which the platform and the plugin call without one.
VisHost* threadHost();

// The frame window class and the embedding function (frame_window.cpp).
void registerFrameClass(HINSTANCE instance);
HWND createFrameWindow(HINSTANCE instance, const RECT& rect);
HWND __cdecl embedWindow(embedWindowState* state);
// What a window that holds the plugin's window does with it, for the frame's window procedure
// and for the host window when the plugin is embedded there (see frame_window.cpp).
void layOutEmbedded(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
