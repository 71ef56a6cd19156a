// player_window: a hidden window of the player's main window class, which is how the installer
// tells that the player is running. Prints "ready" once the window exists and keeps it until its
// standard input closes.
#include <windows.h>

#include <cstdio>

int main() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Winamp v1.x";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) {
        std::printf("error no window\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char ignored;
    DWORD count = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &ignored, 1, &count, nullptr) && count > 0) {
    }
    DestroyWindow(window);
    return 0;
}
