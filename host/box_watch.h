// Sees every message box that opens on the calling thread, reads it, and can answer it as a
// user would, so that runs with nobody at the screen still get past a plugin's boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct MessageBoxSeen {
    HWND box;
    HWND owner;
    std::string caption;
    std::string text;
    // The MB_ button and icon bits as far as the box's controls show them; kUnknownBoxType
    // when its buttons match no standard set.
    unsigned type;
    int answer; // the button pressed for the user, 0 when the box is left to the user
};

static const unsigned kUnknownBoxType = 0xFFFFFFFFu;

// While an instance lives, a thread-local hook (WH_CBT) reports each box once, when it is
// first activated. One instance per thread.
class BoxWatch {
  public:
    explicit BoxWatch(std::function<void(const MessageBoxSeen&)> onBox);
    ~BoxWatch();
    BoxWatch(const BoxWatch&) = delete;
    BoxWatch& operator=(const BoxWatch&) = delete;

    // Answer boxes by pressing OK (or, on a box without OK, Cancel or its first button).
    void setAutoAnswer(bool on) { autoAnswer_ = on; }

    // Internal: called by the hook.
    void activated(HWND window);
    void destroyed(HWND window);

  private:
    std::function<void(const MessageBoxSeen&)> onBox_;
    bool autoAnswer_ = false;
    HHOOK hook_ = NULL;
    std::vector<HWND> open_; // boxes already reported and not yet destroyed
};
