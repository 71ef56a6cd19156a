// port_page: steps through the installer as a user would and reports what its port page offers.
// Finds the installer's window by its caption, presses Next until the page with the port's
// drop-down shows, prints each entry ("item COM3 - USB-SERIAL CH340") and the one selected
// ("selected COM5"), selects the entry given with --pick, if any, and presses Next until the
// installer has finished and closed. Exits 0 once it has; 1 when a step did not happen in time.
//   port_page.exe CAPTION [--pick ENTRY] [--light UNTIL]... [--then next|back|cancel]
//                 [--tick BOX]... [--untick BOX]...
// Each --light presses "Light the cube" and prints the page's status line whenever its text
// changes ("status The whole cube on COM5 ..."), until it begins with UNTIL. At the first change
// it also asks the page's thread to answer a message and prints the status line as it is once
// the page has answered ("answered with status ..."): a page that kept its thread busy while
// the cube is lit would answer only after. --then says how to leave the page afterwards: Next
// (the default), Back (prints "left the page" once the folder page shows and waits there for a
// line or the end of its input, then Next through to the end), or Cancel (confirmed with Yes).
// The finish page's boxes are printed as it shows them ("box Start Lumo Listen now on"), then
// each named by --tick or --untick is clicked into that state before Finish.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const DWORD kPatienceMs = 120000; // Wine starting a GUI program on a loaded machine is slow
const DWORD kStepMs = 250;
const int kNextButton = 1; // the id of Next, Install and Finish on every page
const int kCancelButton = 2;
const int kBackButton = 3;
const wchar_t kLightButton[] = L"Light the cube";

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

// Presses a button as a user's click does: its parent hears of it. A disabled button (Next
// while the installer installs) ignores it.
void press(HWND button) {
    if (button && IsWindowEnabled(button))
        PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
}

void pressNext(HWND installer) {
    press(GetDlgItem(installer, kNextButton));
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

// The page's controls of one class, with their texts.
struct Control {
    HWND window;
    std::wstring text;
};
struct Controls {
    const wchar_t* className;
    std::vector<Control> found;
};

BOOL CALLBACK collectControl(HWND window, LPARAM controls) {
    Controls& c = *reinterpret_cast<Controls*>(controls);
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (lstrcmpiW(className, c.className) == 0 && IsWindowVisible(window))
        c.found.push_back({window, windowText(window)});
    return TRUE;
}

std::vector<Control> controls(HWND installer, const wchar_t* className) {
    Controls c{className, {}};
    EnumChildWindows(installer, collectControl, reinterpret_cast<LPARAM>(&c));
    return c.found;
}

// "&Light the cube" shows as "Light the cube".
std::wstring withoutMnemonic(std::wstring text) {
    for (size_t at = text.find(L'&'); at != std::wstring::npos; at = text.find(L'&', at))
        text.erase(at, 1);
    return text;
}

bool isCheckBox(HWND window) {
    const LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
}

// Prints the page's boxes once they show and clicks those named into the state asked, as a
// user does; false while the page has none.
bool setBoxes(HWND installer, const std::vector<std::string>& tick,
              const std::vector<std::string>& untick) {
    bool any = false;
    for (const Control& box : controls(installer, L"Button")) {
        if (!isCheckBox(box.window))
            continue;
        any = true;
        const std::string text = utf8(withoutMnemonic(box.text));
        const bool on = SendMessageW(box.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
        std::printf("box %s %s\n", text.c_str(), on ? "on" : "off");
        const bool wantOn = std::find(tick.begin(), tick.end(), text) != tick.end();
        const bool wantOff = std::find(untick.begin(), untick.end(), text) != untick.end();
        if ((wantOn && !on) || (wantOff && on))
            SendMessageW(box.window, BM_CLICK, 0, 0);
    }
    std::fflush(stdout);
    return any;
}

HWND lightButton(HWND installer) {
    for (const Control& button : controls(installer, L"Button"))
        if (withoutMnemonic(button.text) == kLightButton)
            return button.window;
    return nullptr;
}

// The message box the installer shows, owned by its window.
struct BoxSearch {
    HWND owner;
    HWND found = nullptr;
};

BOOL CALLBACK findBox(HWND window, LPARAM search) {
    BoxSearch& s = *reinterpret_cast<BoxSearch*>(search);
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (lstrcmpW(className, L"#32770") == 0 && GetWindow(window, GW_OWNER) == s.owner &&
        IsWindowVisible(window)) {
        s.found = window;
        return FALSE;
    }
    return TRUE;
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
    std::string pick, leave = "next";
    std::vector<std::string> lightUntil, tick, untick;
    bool usable = argc >= 2;
    for (int i = 2; usable && i < argc; i += 2) {
        const std::string option = argv[i];
        usable = i + 1 < argc;
        if (!usable)
            break;
        if (option == "--pick")
            pick = argv[i + 1];
        else if (option == "--light")
            lightUntil.push_back(argv[i + 1]);
        else if (option == "--then")
            leave = argv[i + 1];
        else if (option == "--tick")
            tick.push_back(argv[i + 1]);
        else if (option == "--untick")
            untick.push_back(argv[i + 1]);
        else
            usable = false;
    }
    if (!usable || (leave != "next" && leave != "back" && leave != "cancel")) {
        std::fprintf(stderr, "usage: port_page CAPTION [--pick ENTRY] [--light UNTIL]... "
                             "[--then next|back|cancel] [--tick BOX]... [--untick BOX]...\n");
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

    if (!pick.empty()) {
        const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, (WPARAM)-1,
                                           reinterpret_cast<LPARAM>(wide(pick.c_str()).c_str()));
        if (index == CB_ERR) {
            std::printf("error no entry '%s'\n", pick.c_str());
            return 1;
        }
        SendMessageW(list, CB_SETCURSEL, index, 0);
    }
    std::fflush(stdout);

    // The status line is the label whose text a press changes.
    HWND status = nullptr;
    std::wstring statusText;
    bool probed = false;
    for (const std::string& until : lightUntil) {
        HWND button = lightButton(installer);
        if (!button) {
            std::printf("error no button '%s'\n", utf8(kLightButton).c_str());
            return 1;
        }
        std::vector<Control> before = controls(installer, L"Static");
        press(button);
        const std::wstring wanted = wide(until.c_str());
        bool reached = false;
        while (!reached && inTime()) {
            Sleep(20);
            if (!status) {
                for (const Control& label : before)
                    if (windowText(label.window) != label.text)
                        status = label.window;
                if (!status)
                    continue;
            }
            const std::wstring now = windowText(status);
            if (now == statusText)
                continue;
            statusText = now;
            std::printf("status %s\n", utf8(now).c_str());
            if (!probed) {
                SendMessageW(installer, WM_NULL, 0, 0);
                std::printf("answered with status %s\n", utf8(windowText(status)).c_str());
                probed = true;
            }
            std::fflush(stdout);
            reached = now.compare(0, wanted.size(), wanted) == 0;
        }
        if (!reached) {
            std::printf("error the status line never began with '%s'\n", until.c_str());
            return 1;
        }
    }

    if (leave == "back") {
        press(GetDlgItem(installer, kBackButton));
        while (visibleComboBox(installer) && inTime())
            Sleep(kStepMs);
        // Stay on the folder page until told to go on, so that the caller sees what leaving
        // the port page did (going on to it again would end a test left running).
        std::printf("left the page\n");
        std::fflush(stdout);
        char ignored = 0;
        DWORD count = 0;
        while (ignored != '\n' &&
               ReadFile(GetStdHandle(STD_INPUT_HANDLE), &ignored, 1, &count, nullptr) &&
               count > 0) {
        }
    } else if (leave == "cancel") {
        press(GetDlgItem(installer, kCancelButton));
        BoxSearch box{installer};
        while (!box.found && inTime()) {
            Sleep(kStepMs);
            EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
        }
        if (!box.found) {
            std::printf("error no box asked whether to quit\n");
            return 1;
        }
        PostMessageW(box.found, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
        while (IsWindow(installer) && inTime())
            Sleep(kStepMs);
    }

    // Install, then Finish; slowly enough that one press lands on one page.
    bool boxesSet = false;
    while (IsWindow(installer) && inTime()) {
        if (!boxesSet)
            boxesSet = setBoxes(installer, tick, untick);
        pressNext(installer);
        Sleep(4 * kStepMs);
    }
    if (IsWindow(installer)) {
        std::printf("error the installer did not finish\n");
        return 1;
    }
    return 0;
}
