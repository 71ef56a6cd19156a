#include "tray.h"

#include <shellapi.h>

#include <vector>

#include "capture.h"
#include "cube_run.h"
#include "devices.h"
#include "light_control.h"
#include "modes.h"
#include "ports.h"
#include "output.h"
#include "report.h"
#include "settings.h"
#include "text.h"

enum {
    kTrayMessage = WM_APP + 10,
    kIconId = 1,
    kQuitTimer = 1,
    kMenuMode = 100,    // + the mode's index
    kMenuPort = 200,    // + the index in the port list
    kMenuDevice = 1000, // + the index in the device list; kMenuDevice itself: what this PC plays
    kMenuLight = 2000,
    kMenuNetwork,
    kMenuStartWithWindows,
    kMenuQuit,
};

static const wchar_t kWindowClass[] = L"LumoListenTray";
static const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const wchar_t kRunValue[] = L"Lumo Listen";

static HWND trayWindow = NULL;
static UINT taskbarCreated = 0;
static HICON litIcon = NULL, darkIcon = NULL;
static bool iconShown = false;
static bool stopping = false;
static ListenSettings chosen;
static IMMDeviceEnumerator* devices = NULL;
// What the menu offered when it was last opened, by command.
static std::vector<PortEntry> menuPorts;
static std::vector<std::string> menuDevices;

// A small cube seen from the front: five by five dots, bright while the cube is lit.
static HICON makeIcon(bool lit) {
    int size = GetSystemMetrics(SM_CXSMICON);
    if (size < 16)
        size = 16;
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP color = CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, NULL);
    ReleaseDC(NULL, screen);
    HGDIOBJ old = SelectObject(dc, color);
    RECT all = {0, 0, size, size};
    HBRUSH back = CreateSolidBrush(RGB(32, 32, 48));
    FillRect(dc, &all, back);
    DeleteObject(back);
    HBRUSH dot = CreateSolidBrush(lit ? RGB(255, 190, 40) : RGB(110, 110, 120));
    int step = size / 5;
    int margin = (size - 5 * step) / 2;
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 5; ++column) {
            RECT led = {margin + column * step + 1, margin + row * step + 1,
                        margin + (column + 1) * step - 1, margin + (row + 1) * step - 1};
            FillRect(dc, &led, dot);
        }
    DeleteObject(dot);
    SelectObject(dc, mask);
    FillRect(dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH)); // opaque everywhere
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info = {TRUE, 0, 0, mask, color};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(color);
    DeleteObject(mask);
    return icon;
}

static void fillIconData(NOTIFYICONDATAW* data) {
    ZeroMemory(data, sizeof *data);
    data->cbSize = sizeof *data;
    data->hWnd = trayWindow;
    data->uID = kIconId;
}

static void updateIcon(bool add) {
    NOTIFYICONDATAW data;
    fillIconData(&data);
    ListenStatus status = currentStatus();
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = status.lit ? litIcon : darkIcon;
    std::wstring tip = statusTooltip(status);
    lstrcpynW(data.szTip, tip.c_str(), sizeof data.szTip / sizeof data.szTip[0]);
    if (add || !iconShown)
        iconShown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    else
        Shell_NotifyIconW(NIM_MODIFY, &data);
}

void showBalloon(const std::string& text) {
    if (!iconShown)
        return;
    NOTIFYICONDATAW data;
    fillIconData(&data);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_WARNING;
    lstrcpynW(data.szInfoTitle, L"Lumo Listen", sizeof data.szInfoTitle / sizeof(wchar_t));
    std::wstring message = wide(text);
    lstrcpynW(data.szInfo, message.c_str(), sizeof data.szInfo / sizeof(wchar_t));
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

static std::wstring programPath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

static bool startsWithWindows(HKEY root = HKEY_CURRENT_USER) {
    HKEY key = NULL;
    if (RegOpenKeyExW(root, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExW(key, kRunValue, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// This user's logon, through the user's own Run key: no administrator needed.
static void setStartWithWindows(bool start) {
    HKEY key = NULL;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS) {
        tellFailure("Cannot change what starts with Windows for this user");
        return;
    }
    if (start) {
        std::wstring command = L"\"" + programPath() + L"\"";
        RegSetValueExW(key, kRunValue, 0, REG_SZ, (const BYTE*)command.c_str(),
                       (DWORD)((command.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, kRunValue);
    }
    RegCloseKey(key);
    tellNews(start ? "Lumo Listen starts when you log on to Windows"
                   : "Lumo Listen no longer starts when you log on to Windows");
}

static void showMenu() {
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < kListenModeCount; ++i) {
        // The player's modes, then the music's own.
        if (i > 0 && kListenModes[i].music && !kListenModes[i - 1].music)
            AppendMenuW(menu, MF_SEPARATOR, 0, NULL);
        AppendMenuW(menu, MF_STRING | (kListenModes[i].id == chosen.mode ? MF_CHECKED : 0),
                    kMenuMode + i, wide(kListenModes[i].menuText).c_str());
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, NULL);

    HMENU ports = CreatePopupMenu();
    int chosenNumber = comPortNumber(chosen.port);
    menuPorts = listPorts(chosenNumber);
    for (size_t i = 0; i < menuPorts.size() && i < kMenuDevice - kMenuPort; ++i)
        AppendMenuW(ports, MF_STRING | (menuPorts[i].number == chosenNumber ? MF_CHECKED : 0),
                    kMenuPort + i, wide(portTitle(menuPorts[i])).c_str());
    AppendMenuW(menu, MF_POPUP, (UINT_PTR)ports, L"&Port");

    HMENU sources = CreatePopupMenu();
    AppendMenuW(sources, MF_STRING | (chosen.device.empty() ? MF_CHECKED : 0), kMenuDevice,
                L"What this PC plays");
    menuDevices.clear();
    if (devices)
        menuDevices = recordingDeviceNames(devices);
    if (!menuDevices.empty())
        AppendMenuW(sources, MF_SEPARATOR, 0, NULL);
    for (size_t i = 0; i < menuDevices.size() && i + 1 < kMenuLight - kMenuDevice; ++i)
        AppendMenuW(sources, MF_STRING | (menuDevices[i] == chosen.device ? MF_CHECKED : 0),
                    kMenuDevice + 1 + i, wide(menuDevices[i]).c_str());
    AppendMenuW(menu, MF_POPUP, (UINT_PTR)sources, L"Listen &to");
    AppendMenuW(menu, MF_SEPARATOR, 0, NULL);
    AppendMenuW(menu, MF_STRING, kMenuLight, L"Light the &cube");
    AppendMenuW(menu, MF_STRING | (lightOn() ? MF_CHECKED : 0), kMenuNetwork,
                L"Let &other programs light the cube");
    // The installer may have set it for everyone, which only an administrator changes: a second
    // entry of this user's would only start a second copy.
    if (startsWithWindows(HKEY_LOCAL_MACHINE))
        AppendMenuW(menu, MF_STRING | MF_CHECKED | MF_GRAYED, kMenuStartWithWindows,
                    L"Start with &Windows (for everyone)");
    else
        AppendMenuW(menu, MF_STRING | (startsWithWindows() ? MF_CHECKED : 0), kMenuStartWithWindows,
                    L"Start with &Windows");
    AppendMenuW(menu, MF_SEPARATOR, 0, NULL);
    AppendMenuW(menu, MF_STRING, kMenuQuit, L"&Quit");

    POINT at;
    GetCursorPos(&at);
    // Without the foreground the menu would stay open after a click elsewhere.
    SetForegroundWindow(trayWindow);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, trayWindow, NULL);
    PostMessageW(trayWindow, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// The stop byte, the port closed, listening ended; then the loop ends.
static void stop() {
    if (stopping)
        return;
    stopping = true;
    // An open menu runs a loop of its own that would keep the program alive.
    EndMenu();
    KillTimer(trayWindow, kQuitTimer);
    stopLight();
    stopCube();
    stopCapture();
    tellNews("Stopped; the cube on " + currentStatus().port + " is let go");
    PostQuitMessage(0);
}

static void choose(UINT command) {
    if (command >= kMenuMode && command < kMenuMode + kListenModeCount) {
        chosen.mode = kListenModes[command - kMenuMode].id;
        setCubeMode(chosen.mode);
        setStatusMode(kListenModes[command - kMenuMode].name);
        saveSetting(kModeKey, modeSettingText(chosen.mode));
        tellNews(std::string("Showing ") + kListenModes[command - kMenuMode].name);
    } else if (command >= kMenuPort && command < kMenuPort + menuPorts.size()) {
        chosen.port = "COM" + std::to_string(menuPorts[command - kMenuPort].number);
        setCubePort(chosen.port);
        saveSetting(kPortKey, portSettingText(kComPorts, chosen.port));
    } else if (command >= kMenuDevice && command <= kMenuDevice + menuDevices.size()) {
        chosen.device =
            command == kMenuDevice ? std::string() : menuDevices[command - kMenuDevice - 1];
        setCaptureDevice(chosen.device);
        saveSetting(kDeviceKey, chosen.device);
    } else if (command == kMenuLight) {
        lightWholeCube();
        tellNews("The whole cube on " + chosen.port + " should be lit now, for two seconds");
    } else if (command == kMenuNetwork) {
        chosen.network = !lightOn();
        if (chosen.network) {
            startLight(chosen.universe);
            tellNews("Other programs may light the cube over E1.31 (universe " +
                     std::to_string(chosen.universe) + ") and DDP");
        } else {
            stopLight();
            tellNews("Other programs no longer light the cube");
        }
        saveSetting(kNetworkKey, networkSettingText(chosen.network));
    } else if (command == kMenuStartWithWindows) {
        setStartWithWindows(!startsWithWindows());
    } else if (command == kMenuQuit) {
        stop();
    }
}

static LRESULT CALLBACK trayProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated && taskbarCreated != 0) {
        // Explorer restarted and forgot every icon.
        updateIcon(true);
        return 0;
    }
    switch (message) {
    case kTellMessage:
        handleTell(wParam, lParam);
        return 0;
    case kStatusMessage:
        updateIcon(false);
        return 0;
    case kTrayMessage:
        if (lParam == WM_RBUTTONUP || lParam == WM_LBUTTONUP || lParam == WM_CONTEXTMENU)
            showMenu();
        return 0;
    case WM_COMMAND:
        choose(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kQuitTimer)
            stop();
        return 0;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC)
            restartCapture();
        return TRUE;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            stop();
        return 0;
    case WM_CLOSE:
        stop();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool createTray(HINSTANCE instance, const ListenSettings& settings,
                IMMDeviceEnumerator* enumerator) {
    chosen = settings;
    devices = enumerator;
    taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = trayProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    // A top-level window that is never shown: a message-only one would miss TaskbarCreated,
    // which is broadcast.
    trayWindow = CreateWindowExW(0, kWindowClass, L"Lumo Listen", WS_OVERLAPPED, 0, 0, 0, 0, NULL,
                                 NULL, instance, NULL);
    if (trayWindow == NULL)
        return false;
    litIcon = makeIcon(true);
    darkIcon = makeIcon(false);
    reportTo(trayWindow);
    updateIcon(true);
    return true;
}

void runTray(double seconds) {
    if (seconds > 0)
        SetTimer(trayWindow, kQuitTimer, (UINT)(seconds * 1000 + 0.5), NULL);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // What the threads told last is still waiting in the queue.
    reportTo(NULL);
    while (PeekMessageW(&message, trayWindow, kTellMessage, kTellMessage, PM_REMOVE))
        handleTell(message.wParam, message.lParam);
}

void removeTray() {
    if (iconShown) {
        NOTIFYICONDATAW data;
        fillIconData(&data);
        Shell_NotifyIconW(NIM_DELETE, &data);
        iconShown = false;
    }
    DestroyWindow(trayWindow);
    trayWindow = NULL;
    DestroyIcon(litIcon);
    DestroyIcon(darkIcon);
}
