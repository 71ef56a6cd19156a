// A cube library that sends nothing and writes down every call it gets, in order, with what
// could be seen at that moment: whether a message box was up and what lumo.ini held. It also
// notes each message box as it appears, so the log shows what came before what. Loaded in
// place of the real library, it pins the order of the plugin's steps, which the line alone
// cannot show. The log is lumolink-calls.txt beside the library, one line per event:
//   box caption="Info" text="Make sure the Lumo is Connected to COM1"
//   Open 1 box=no ini=-
//   setStar 39 box=no ini="[Star]|Screen_x=50|..."   (lines joined by |, '-' when no file)
#include <windows.h>

#include <stdio.h>
#include <string.h>

static HINSTANCE self = NULL;
static HHOOK boxHook = NULL;
static char folder[MAX_PATH]; // with its trailing backslash

static void appendLine(const char* line) {
    char path[MAX_PATH + 32];
    snprintf(path, sizeof path, "%slumolink-calls.txt", folder);
    FILE* log = fopen(path, "ab");
    if (log) {
        fprintf(log, "%s\n", line);
        fclose(log);
    }
}

// lumo.ini beside the library, its lines joined by '|', or "-" when there is none.
static void settingsNow(char* out, size_t size) {
    char path[MAX_PATH + 32];
    snprintf(path, sizeof path, "%slumo.ini", folder);
    FILE* file = fopen(path, "rb");
    if (!file) {
        snprintf(out, size, "-");
        return;
    }
    size_t used = 0;
    out[used++] = '"';
    for (int c; (c = fgetc(file)) != EOF && used + 2 < size;) {
        if (c == '\r')
            continue;
        out[used++] = c == '\n' ? '|' : (char)c;
    }
    out[used++] = '"';
    out[used] = '\0';
    fclose(file);
}

static BOOL CALLBACK findBox(HWND window, LPARAM found) {
    char name[16];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, "#32770") == 0 &&
        IsWindowVisible(window)) {
        *(bool*)found = true;
        return FALSE;
    }
    return TRUE;
}

static void record(const char* call) {
    bool boxUp = false;
    EnumThreadWindows(GetCurrentThreadId(), findBox, (LPARAM)&boxUp);
    char settings[2048];
    settingsNow(settings, sizeof settings);
    char line[2200];
    snprintf(line, sizeof line, "%s box=%s ini=%s", call, boxUp ? "yes" : "no", settings);
    appendLine(line);
}

static LRESULT CALLBACK watchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wParam;
        char name[16], caption[256] = "", text[512] = "";
        if (GetClassNameA(window, name, sizeof name) && strcmp(name, "#32770") == 0) {
            GetWindowTextA(window, caption, sizeof caption);
            GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
            char line[800];
            snprintf(line, sizeof line, "box caption=\"%s\" text=\"%s\"", caption, text);
            appendLine(line);
        }
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT int __cdecl Open(int port) {
    char call[32];
    snprintf(call, sizeof call, "Open %d", port);
    record(call);
    return 1;
}
EXPORT int __cdecl Close(void) {
    record("Close");
    return 1;
}
EXPORT int __cdecl sendChar(char byte) {
    char call[32];
    snprintf(call, sizeof call, "sendChar %d", (unsigned char)byte);
    record(call);
    return 1;
}
static int pattern(const char* name, int level) {
    char call[48];
    snprintf(call, sizeof call, "%s %d", name, level);
    record(call);
    return 1;
}
EXPORT int __cdecl setStar(int level) {
    return pattern("setStar", level);
}
EXPORT int __cdecl setLevel(int level) {
    return pattern("setLevel", level);
}
EXPORT int __cdecl setNewStar(int level) {
    return pattern("setNewStar", level);
}

// The plugin loads the library on the host's thread just before its "Info" box: watching that
// thread's boxes from here on sees the box come and go around the calls.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        GetModuleFileNameA(instance, folder, sizeof folder);
        char* slash = strrchr(folder, '\\');
        if (slash)
            slash[1] = '\0';
        boxHook = SetWindowsHookExA(WH_CBT, watchBoxes, NULL, GetCurrentThreadId());
    } else if (reason == DLL_PROCESS_DETACH && boxHook) {
        UnhookWindowsHookEx(boxHook);
    }
    return TRUE;
}
