// port_page: steps through the installer as a user would and reports what its port page offers.
// Finds the installer's window by its caption, presses Next until the page with the port's
// drop-down shows, prints each entry ("item COM3 - USB-SERIAL CH340") and the one selected
// ("selected COM5"), selects the entry given with --pick, if any, and presses Next until the
// installer has finished and closed. Exits 0 once it has; 1 when a step did not happen in time.
//   port_page.exe CAPTION [--pick ENTRY]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const DWORD kPatienceMs = 120000; // Wine starting a GUI program on a loaded machine is slow
const DWORD kStepMs = 250;
const int kNextButton = 1; // the id of Next, Install and Finish on every page

std::string utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring wide(const char* text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(size > 0 ? size - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], size);
    return result;
}

struct Search {
    std::wstring caption;
    HWND found = nullptr;
    std::vector<std::wstring> seen;
};

// NSIS pads the caption with a space or two, so those do not count.
BOOL CALLBACK findCaption(HWND window, LPARAM search) {
    Search& s = *reinterpret_cast<Search*>(search);
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    std::wstring caption = text;
    while (!caption.empty() && caption.back() == L' ')
        caption.pop_back();
    if (!caption.empty())
        s.seen.push_back(caption);
    if (caption == s.caption && IsWindowVisible(window)) {
        s.found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findVisibleComboBox(HWND window, LPARAM found) {
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (lstrcmpiW(className, L"ComboBox") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND visibleComboBox(HWND installer) {
    HWND found = nullptr;
    EnumChildWindows(installer, findVisibleComboBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Presses Next as a user's click does; the installer ignores it while the button is disabled
// (while it installs).
void pressNext(HWND installer) {
    HWND next = GetDlgItem(installer, kNextButton);
    if (next && IsWindowEnabled(next))
        PostMessageW(installer, WM_COMMAND, MAKEWPARAM(kNextButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(next));
}

std::vector<std::wstring> entries(HWND list) {
    std::vector<std::wstring> result;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        std::wstring text(SendMessageW(list, CB_GETLBTEXTLEN, index, 0) + 1, L'\0');
        SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(lstrlenW(text.c_str()));
        result.push_back(text);
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--pick")) {
        std::fprintf(stderr, "usage: port_page CAPTION [--pick ENTRY]\n");
        return 2;
    }
    const std::wstring caption = wide(argv[1]);
    const DWORD start = GetTickCount();
    auto inTime = [start] { return GetTickCount() - start < kPatienceMs; };

    Search search;
    search.caption = caption;
    while (inTime()) {
        search.seen.clear();
        EnumWindows(findCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            break;
        Sleep(kStepMs);
    }
    HWND installer = search.found;
    if (!installer) {
        std::printf("error no window '%s'; there are:", argv[1]);
        for (const std::wstring& seen : search.seen)
            std::printf(" '%s'", utf8(seen).c_str());
        std::printf("\n");
        return 1;
    }

    // The folder page comes first; the port page is the one with a drop-down. It is filled
    // before it shows, but let a second read agree with the first before trusting it.
    HWND list = nullptr;
    std::vector<std::wstring> shown;
    while (inTime()) {
        list = visibleComboBox(installer);
        if (!list) {
            pressNext(installer);
        } else {
            std::vector<std::wstring> now = entries(list);
            if (!now.empty() && now == shown)
                break;
            shown = now;
        }
        Sleep(4 * kStepMs);
    }
    if (!list || shown.empty()) {
        std::printf("error the port page did not show\n");
        return 1;
    }
    for (const std::wstring& entry : shown)
        std::printf("item %s\n", utf8(entry).c_str());
    const LRESULT selected = SendMessageW(list, CB_GETCURSEL, 0, 0);
    std::printf("selected %s\n", selected >= 0 && selected < (LRESULT)shown.size()
                                     ? utf8(shown[selected]).c_str()
                                     : "(none)");

    if (argc == 4) {
        const std::wstring pick = wide(argv[3]);
        const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, (WPARAM)-1,
                                           reinterpret_cast<LPARAM>(pick.c_str()));
        if (index == CB_ERR) {
            std::printf("error no entry '%s'\n", argv[3]);
            return 1;
        }
        SendMessageW(list, CB_SETCURSEL, index, 0);
    }
    std::fflush(stdout);

    // Install, then Finish; slowly enough that one press lands on one page.
    while (IsWindow(installer) && inTime()) {
        pressNext(installer);
        Sleep(4 * kStepMs);
    }
    if (IsWindow(installer)) {
        std::printf("error the installer did not finish\n");
        return 1;
    }
    return 0;
}
