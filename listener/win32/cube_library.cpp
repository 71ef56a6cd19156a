#include "cube_library.h"

#include <windows.h>

#include "cube_exports.h"
#include "module_path.h"
#include "port_names.h"
#include "port_reason.h"

typedef int(__cdecl* OpenEntry)(int port);
typedef int(__cdecl* CloseEntry)(void);
typedef int(__cdecl* PatternEntry)(int level);
typedef int(__cdecl* SendCharEntry)(char byte);
typedef int(__cdecl* PlanesEntry)(int plane1, int plane2, int plane3, int plane4, int plane5);

static OpenEntry openPort = NULL;
static CloseEntry closePort = NULL;
static PatternEntry patternEntries[kPatternCount] = {NULL, NULL, NULL};
static SendCharEntry sendChar = NULL;
static PlanesEntry setPlanes = NULL;

template <typename Entry> static Entry entry(FARPROC address) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)(void)>(address));
}

bool loadCubeLibrary(std::string* error) {
    // Only the copy beside the program: never one in the current folder or on PATH, which
    // could be anything. Its own imports are looked for beside it and in the system folder.
    char path[kPathSize];
    DWORD length = GetModuleFileNameA(NULL, path, kPathSize);
    HMODULE library = NULL;
    if (length > 0 && length < kPathSize && path_beside(path, kCubeLibraryName))
        library = LoadLibraryExA(path, NULL,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the safe search flags (a Windows without the update that brought them).
    if (library == NULL && length > 0 && path[0] != '\0')
        library = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == NULL) {
        *error = kCubeLibraryMissing;
        return false;
    }
    FARPROC found[kCubeExportCount];
    for (int i = 0; i < kCubeExportCount; ++i) {
        found[i] = GetProcAddress(library, kCubeExports[i].exportName);
        if (found[i] == NULL) {
            *error = kCubeExports[i].missingMessage;
            FreeLibrary(library);
            return false;
        }
    }
    // The music modes draw frames of their own; a library from before them still lights the
    // player's modes, and the music modes stay dark.
    setPlanes = entry<PlanesEntry>(GetProcAddress(library, "setPlanes"));
    openPort = entry<OpenEntry>(found[kExportOpen]);
    closePort = entry<CloseEntry>(found[kExportClose]);
    patternEntries[kPatternStar] = entry<PatternEntry>(found[kExportSetStar]);
    patternEntries[kPatternLevels] = entry<PatternEntry>(found[kExportSetLevel]);
    patternEntries[kPatternNewStar] = entry<PatternEntry>(found[kExportSetNewStar]);
    sendChar = entry<SendCharEntry>(found[kExportSendChar]);
    return true;
}

static const char kPluginWindowClass[] = "LED-Lumo Visualisation";

static BOOL CALLBACK findPluginWindow(HWND window, LPARAM found) {
    char name[sizeof kPluginWindowClass + 1];
    if (GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, kPluginWindowClass) == 0) {
        *(bool*)found = true;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK findPluginWindowIn(HWND topLevel, LPARAM found) {
    findPluginWindow(topLevel, found);
    if (!*(bool*)found)
        EnumChildWindows(topLevel, findPluginWindow, found);
    return *(bool*)found ? FALSE : TRUE;
}

// The player's plugin window, while a mode of it runs: a child of whatever frame the player
// gave it, however deep.
static bool pluginRunning() {
    bool found = false;
    EnumWindows(findPluginWindowIn, (LPARAM)&found);
    return found;
}

class CubeLibrary final : public CubeLink {
  public:
    bool open(const std::string& port, std::string* failure) override {
        int number = comPortNumber(port);
        if (openPort(number))
            return true;
        DWORD reason = GetLastError();
        if (port_error_is_in_use(reason) && pluginRunning()) {
            *failure = port +
                       " is in use by lumo in the player; the cube lights from here once the "
                       "player lets it go";
            return false;
        }
        char text[128];
        port_open_failure_text(text, sizeof text, number, reason);
        *failure = text;
        return false;
    }
    void close() override { closePort(); }
    void sendByte(unsigned char byte) override { sendChar((char)byte); }
    void showLevel(CubePattern pattern, int level) override { patternEntries[pattern](level); }
    void showPlanes(const CubePlanes& planes) override {
        if (setPlanes)
            setPlanes(planes.plane[0], planes.plane[1], planes.plane[2], planes.plane[3],
                      planes.plane[4]);
        else
            patternEntries[kPatternLevels](0);
    }
    // Each frame has its time; the default timer granularity would blur 15 ms to 16.
    void threadStarting() override { timeBeginPeriod(1); }
    void threadEnding() override { timeEndPeriod(1); }
};

CubeLink* cubeLibrary() {
    static CubeLibrary library;
    return &library;
}
