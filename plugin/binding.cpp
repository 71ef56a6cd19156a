// The cube library, loaded by file name at run time and bound by export name.
#include "globals.h"
#include "frames.h"

HMODULE myLib = NULL;
OpenEntry initP = NULL;
CloseEntry exitP = NULL;
PatternEntry setStarP = NULL;
PatternEntry setLevelP = NULL;
PatternEntry setNewStarP = NULL;
SendCharEntry sendCharP = NULL;

struct EntryPoint {
    const char* exportName;
    const char* failureMessage;
};

// Looked up in this order; the first one missing stops the binding.
static const EntryPoint kEntryPoints[] = {
    {"Open", "Cannot load init function"},             // initP
    {"Close", "Cannot load exit function"},            // exitP
    {"setStar", "Cannot load setStar function"},       // setStarP
    {"setLevel", "Cannot load setLevel function"},     // setLevelP
    {"setNewStar", "Cannot load setNewStar function"}, // setNewStarP
    {"sendChar", "Cannot load sendChar function"},     // sendCharP
};
enum { kEntryPointCount = sizeof kEntryPoints / sizeof kEntryPoints[0] };

// GetProcAddress hands out one generic type; going through void(*)(void) says on purpose that
// the export's real signature is the one named here.
template <typename Entry> static Entry entry(FARPROC address) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)(void)>(address));
}

static void show_error(const char* text) {
    MessageBoxA(g_mod->hwndParent, text, "Error", MB_OK);
}

struct OpenFailure {
    DWORD error;
    const char* reason;
};

// Why a port did not open, from the library's last error. Anything else is shown by number.
static const OpenFailure kOpenFailures[] = {
    {ERROR_FILE_NOT_FOUND, "there is no such port"},                   // no device of that name
    {ERROR_PATH_NOT_FOUND, "there is no such port"},                   // likewise, for some names
    {ERROR_ACCESS_DENIED, "another program is using it"},              // Windows: held elsewhere
    {ERROR_SHARING_VIOLATION, "another program is using it"},          // Wine: held elsewhere
    {ERROR_NOT_SUPPORTED, "it is not a serial port the cube can use"}, // refused 19200 8N1
};
enum { kOpenFailureCount = sizeof kOpenFailures / sizeof kOpenFailures[0] };

static void show_open_failure(DWORD error) {
    char text[kMessageSize];
    for (int i = 0; i < kOpenFailureCount; ++i) {
        if (kOpenFailures[i].error == error) {
            wsprintfA(text, "Cannot open COM%d: %s", config_com, kOpenFailures[i].reason);
            show_error(text);
            return;
        }
    }
    wsprintfA(text, "Cannot open COM%d (error %lu)", config_com, error);
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

int Init(void) {
    myLib = LoadLibraryA("lumolink.dll");
    if (myLib == NULL) {
        show_error("Cannot load lumolink.dll");
        return 1;
    }

    FARPROC found[kEntryPointCount];
    for (int i = 0; i < kEntryPointCount; ++i) {
        found[i] = GetProcAddress(myLib, kEntryPoints[i].exportName);
        if (found[i] == NULL) {
            show_error(kEntryPoints[i].failureMessage);
            unbind();
            return 1;
        }
    }
    initP = entry<OpenEntry>(found[0]);
    exitP = entry<CloseEntry>(found[1]);
    setStarP = entry<PatternEntry>(found[2]);
    setLevelP = entry<PatternEntry>(found[3]);
    setNewStarP = entry<PatternEntry>(found[4]);
    sendCharP = entry<SendCharEntry>(found[5]);

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
