// Chooses from the listener's tray menu as a user does with the keyboard: opens the menu as a
// right click on the icon does, then types each item's underlined letter in turn ("c": Light
// the cube; "tp": Listen to, then an item whose letter is p). Items without a letter (the ports)
// are reached with the arrow keys: "v" stands for the down arrow and "!" for Enter ("pv!": the
// Port submenu's second item).
//   tray_menu.exe KEYS
// Prints "ok" once every key went to an open menu, or "error ..." and exits 1.
#include <windows.h>

#include <stdio.h>

static HWND openMenuWindow() {
    for (int i = 0; i < 500; ++i) {
        HWND menu = FindWindowW(L"#32768", NULL);
        if (menu && IsWindowVisible(menu))
            return menu;
        Sleep(20);
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        printf("error usage: tray_menu.exe LETTERS\n");
        return 1;
    }
    HWND tray = FindWindowW(L"LumoListenTray", NULL);
    if (tray == NULL) {
        printf("error no listener window\n");
        return 1;
    }
    // The icon's callback message, as the shell sends it for a right click.
    PostMessageW(tray, WM_APP + 10, 1, WM_RBUTTONUP);
    for (const char* letter = argv[1]; *letter; ++letter) {
        HWND menu = openMenuWindow();
        if (menu == NULL) {
            printf("error no menu open for '%c'\n", *letter);
            return 1;
        }
        // The menu's own loop reads the keys from its thread's queue.
        if (*letter == 'v' || *letter == '!') {
            WPARAM key = *letter == 'v' ? VK_DOWN : VK_RETURN;
            PostMessageW(menu, WM_KEYDOWN, key, 1);
            PostMessageW(menu, WM_KEYUP, key, 0xC0000001);
        } else {
            PostMessageW(menu, WM_CHAR, (WPARAM)(unsigned char)*letter, 0);
        }
        Sleep(300);
    }
    printf("ok\n");
    return 0;
}
