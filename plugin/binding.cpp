// The cube library, loaded by file name at run time and bound by export name.
#include "globals.h"
#include "cube_exports.h"
#include "frames.h"
#include "module_path.h"
#include "port_reason.h"

HMODULE myLib = NULL;
OpenEntry initP = NULL;
CloseEntry exitP = NULL;
PatternEntry setStarP = NULL;
PatternEntry setLevelP = NULL;
PatternEntry setNewStarP = NULL;
SendCharEntry sendCharP = NULL;

// GetProcAddress hands out one generic type; going through void(*)(void) says on purpose that
// the export's real signature is the one named here.
template <typename Entry> static Entry entry(FARPROC address) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)(void)>(address));
}

static void show_error(const char* text) {
    MessageBoxA(g_mod->hwndParent, text, "Error", MB_OK);
}

static void show_open_failure(DWORD error) {
    char text[kMessageSize];
    port_open_failure_text(text, sizeof text, config_com, error);
    show_error(text);
}

// A library that lacks an export is let go again and nothing of it stays bound, so nothing can
// call into a library that is gone, and a fixed library put in its place is loaded by the next
// start of a module rather than the broken one kept in memory.
static void unbind(void) {
    FreeLibrary(myLib);
    myLib = NULL;
    initP = NULL;
    exitP = NULL;
    setStarP = setLevelP = setNewStarP = NULL;
    sendCharP = NULL;
}

// This plugin's own file, whichever handle the host put into the record.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// Where the library belongs, in the order they are tried: beside the player's program (where
// the installer puts it), the system folders, beside this plugin (where people who install by
// hand put it). Never the current folder, which follows the player's Open dialog into
// Downloads, nor a folder on PATH: a file named lumolink.dll there would run inside the player.
enum LibraryPlace { kBesideProgram, kSystemFolder, kWindowsFolder, kBesidePlugin, kPlaceCount };

// The library's full path in a place, built here so that no search of the platform's is
// involved; false when the platform cannot name the place within the path limit.
static bool library_path(LibraryPlace place, char* path) {
    DWORD length = 0;
    switch (place) {
    case kBesideProgram:
    case kBesidePlugin:
        length = GetModuleFileNameA(place == kBesideProgram ? NULL : (HMODULE)&__ImageBase, path,
                                    kPathSize);
        return length > 0 && length < kPathSize && path_beside(path, kCubeLibraryName);
    case kSystemFolder:
        length = GetSystemDirectoryA(path, kPathSize);
        break;
    case kWindowsFolder:
        length = GetWindowsDirectoryA(path, kPathSize);
        break;
    default:
        return false;
    }
    return length < kPathSize && path_in_folder(path, path, length, kCubeLibraryName);
}

// Each place is loaded by its full path. Where the platform can (kernel32 then has
// AddDllDirectory), the library's own imports are looked for only beside it and in the system
// folder; otherwise the search for them starts beside it.
static HMODULE load_cube_library(void) {
    bool safeSearch = GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != NULL;
    DWORD flags = safeSearch ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                             : LOAD_WITH_ALTERED_SEARCH_PATH;
    char path[kPathSize];
    for (int place = 0; place < kPlaceCount; ++place) {
        if (!library_path((LibraryPlace)place, path))
            continue;
        HMODULE library = LoadLibraryExA(path, NULL, flags);
        if (library != NULL)
            return library;
    }
    return NULL;
}

int Init(void) {
    myLib = load_cube_library();
    if (myLib == NULL) {
        show_error(kCubeLibraryMissing);
        return 1;
    }

    FARPROC found[kCubeExportCount];
    for (int i = 0; i < kCubeExportCount; ++i) {
        found[i] = GetProcAddress(myLib, kCubeExports[i].exportName);
        if (found[i] == NULL) {
            show_error(kCubeExports[i].missingMessage);
            unbind();
            return 1;
        }
    }
    initP = entry<OpenEntry>(found[kExportOpen]);
    exitP = entry<CloseEntry>(found[kExportClose]);
    setStarP = entry<PatternEntry>(found[kExportSetStar]);
    setLevelP = entry<PatternEntry>(found[kExportSetLevel]);
    setNewStarP = entry<PatternEntry>(found[kExportSetNewStar]);
    sendCharP = entry<SendCharEntry>(found[kExportSendChar]);

    // The user connects the cube before closing the box; only then is the port opened. A port
    // that does not open is named with its reason, and the run goes on: the library opens it
    // by itself once it is there.
    char text[kMessageSize];
    wsprintfA(text, "Make sure the Lumo is Connected to COM%d", config_com);
    MessageBoxA(g_mod->hwndParent, text, "Info", MB_OK);
    if (initP(config_com) == 0)
        show_open_failure(GetLastError());
    sendCharP((char)kCubeStartByte);
    return 0;
}

void close_device(void) {
    if (sendCharP)
        sendCharP((char)kCubeStopByte);
    if (exitP)
        exitP();
}
