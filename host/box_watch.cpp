#include "box_watch.h"

#include <vector>

namespace {

thread_local BoxWatch* t_watch = nullptr;
thread_local HHOOK t_hook = NULL;

LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (t_watch != nullptr) {
        if (code == HCBT_ACTIVATE)
            t_watch->activated((HWND)wParam);
        else if (code == HCBT_DESTROYWND)
            t_watch->destroyed((HWND)wParam);
    }
    return CallNextHookEx(t_hook, code, wParam, lParam);
}

std::string windowText(HWND window) {
    if (window == NULL)
        return std::string();
    const int length = GetWindowTextLengthA(window);
    std::string text((size_t)length + 1, '\0');
    const int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(copied > 0 ? (size_t)copied : 0);
    return text;
}

std::string className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A box's buttons are its Button children that are (to be) shown: some platforms create all
// of them and hide the ones the type does not ask for.
std::vector<int> shownButtons(HWND box) {
    std::vector<int> ids;
    for (HWND child = GetWindow(box, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) == "Button" && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE))
            ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
}

bool has(const std::vector<int>& ids, int id) {
    for (int present : ids)
        if (present == id)
            return true;
    return false;
}

unsigned buttonBits(const std::vector<int>& ids) {
    struct ButtonSet {
        unsigned bits;
        std::vector<int> ids;
    };
    static const ButtonSet sets[] = {
        {MB_OK, {IDOK}},                                            // the plain box
        {MB_OKCANCEL, {IDOK, IDCANCEL}},                            // OK or give up
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}},        // a failed operation
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},                  // a question that can be dodged
        {MB_YESNO, {IDYES, IDNO}},                                  // a plain question
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}},                      // try again or give up
        {MB_CANCELTRYCONTINUE, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}}, // the newer retry box
    };
    std::vector<int> withoutHelp;
    for (int id : ids)
        if (id != IDHELP)
            withoutHelp.push_back(id);
    for (const ButtonSet& set : sets) {
        if (set.ids.size() != withoutHelp.size())
            continue;
        bool all = true;
        for (int id : set.ids)
            all = all && has(withoutHelp, id);
        if (all)
            return set.bits | (has(ids, IDHELP) ? MB_HELP : 0);
    }
    return kUnknownBoxType;
}

// The standard icons are shared resources: loading one again yields the handle the box shows.
unsigned iconBits(HWND box) {
    static const struct {
        unsigned bits;
        LPCSTR icon;
    } icons[] = {
        {MB_ICONHAND, IDI_HAND},               // stop sign
        {MB_ICONQUESTION, IDI_QUESTION},       // question mark
        {MB_ICONEXCLAMATION, IDI_EXCLAMATION}, // warning
        {MB_ICONASTERISK, IDI_ASTERISK},       // information
    };
    for (HWND child = GetWindow(box, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (className(child) != "Static" || (style & SS_TYPEMASK) != SS_ICON ||
            !(style & WS_VISIBLE))
            continue;
        HICON shown = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
        for (const auto& candidate : icons)
            if (shown != NULL && shown == LoadIconA(NULL, candidate.icon))
                return candidate.bits;
    }
    return 0;
}

} // namespace

BoxWatch::BoxWatch(std::function<void(const MessageBoxSeen&)> onBox) : onBox_(std::move(onBox)) {
    t_watch = this;
    hook_ = SetWindowsHookExA(WH_CBT, cbtHook, NULL, GetCurrentThreadId());
    t_hook = hook_;
}

BoxWatch::~BoxWatch() {
    if (hook_ != NULL)
        UnhookWindowsHookEx(hook_);
    t_watch = nullptr;
    t_hook = NULL;
}

void BoxWatch::activated(HWND window) {
    // A box is activated again when focus comes back to it; report it only the first time.
    for (HWND known : open_)
        if (known == window)
            return;
    if (className(window) != "#32770")
        return;
    HWND message = GetDlgItem(window, 0xFFFF);
    if (message == NULL)
        return; // some other dialog
    open_.push_back(window);

    MessageBoxSeen seen;
    seen.box = window;
    seen.owner = GetWindow(window, GW_OWNER);
    seen.caption = windowText(window);
    seen.text = windowText(message);
    const std::vector<int> buttons = shownButtons(window);
    seen.type = buttonBits(buttons);
    if (seen.type != kUnknownBoxType)
        seen.type |= iconBits(window);
    seen.answer = 0;
    if (autoAnswer_ && !buttons.empty())
        seen.answer = has(buttons, IDOK) ? IDOK : has(buttons, IDCANCEL) ? IDCANCEL : buttons[0];
    onBox_(seen);
    if (seen.answer != 0)
        PostMessageA(window, WM_COMMAND, (WPARAM)seen.answer, 0);
}

void BoxWatch::destroyed(HWND window) {
    for (size_t i = 0; i < open_.size(); ++i) {
        if (open_[i] == window) {
            open_.erase(open_.begin() + (long)i);
            return;
        }
    }
}
