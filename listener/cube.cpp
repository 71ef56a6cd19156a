#include "cube.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cube_exports.h"
#include "level.h"
#include "module_path.h"
#include "modes.h"
#include "port_reason.h"
#include "report.h"
#include "sound_feed.h"

typedef int(__cdecl* OpenEntry)(int port);
typedef int(__cdecl* CloseEntry)(void);
typedef int(__cdecl* PatternEntry)(int level);
typedef int(__cdecl* SendCharEntry)(char byte);

static OpenEntry openPort = NULL;
static CloseEntry closePort = NULL;
static PatternEntry patternEntries[kPatternCount] = {NULL, NULL, NULL};
static SendCharEntry sendChar = NULL;

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
    openPort = entry<OpenEntry>(found[kExportOpen]);
    closePort = entry<CloseEntry>(found[kExportClose]);
    patternEntries[kPatternStar] = entry<PatternEntry>(found[kExportSetStar]);
    patternEntries[kPatternLevels] = entry<PatternEntry>(found[kExportSetLevel]);
    patternEntries[kPatternNewStar] = entry<PatternEntry>(found[kExportSetNewStar]);
    sendChar = entry<SendCharEntry>(found[kExportSendChar]);
    return true;
}

enum {
    // While the port is not open, it is tried this often: just under the library's own second,
    // so the listener, not a frame write, brings it back and knows to send the start byte.
    kPortCheckMs = 900,
    // A try that took this long (a Bluetooth port whose device is off) is repeated seldom.
    kSlowTryMs = 300,
    kSlowPortCheckMs = 10000,
    kWholeCubeMs = 2000,
    kStopWaitMs = 5000,
};

// What the tray asks of the cube's thread; read by it at its next tick.
static std::mutex commandMutex;
static std::condition_variable commandArrived;
static CubePattern wantedMode = kPatternLevels;
static int wantedPort = 1;
static bool wholeCubeWanted = false;
static bool stopWanted = false;
static std::thread cubeThread;
static std::atomic<bool> cubeFinished{false};

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

class CubeRun {
  public:
    CubeRun(SoundFeed* feed, CubePattern mode, int port) : feed_(feed), mode_(mode), port_(port) {}

    void run() {
        openAndTell();
        DWORD nextFrame = GetTickCount();
        for (;;) {
            DWORD now = GetTickCount();
            int delay = modeOf(mode_).delayMs;
            long wait = (long)(nextFrame - now);
            if (wait > 0) {
                std::unique_lock<std::mutex> lock(commandMutex);
                commandArrived.wait_for(lock, std::chrono::milliseconds(wait),
                                        [] { return stopWanted; });
            }
            if (!takeCommands())
                break;
            now = GetTickCount();
            if ((long)(now - nextFrame) < 0)
                continue;
            // Keep the mode's pace on average; after a stall start afresh rather than rush.
            nextFrame += (DWORD)delay;
            if ((long)(now - nextFrame) > delay)
                nextFrame = now + (DWORD)delay;
            checkPort(now);
            sendFrame(now);
        }
        sendChar((char)kCubeStopByte);
        closePort();
        setStatusLit(false);
    }

  private:
    // False once the tray asked to stop. What was asked is taken under the lock and done
    // outside it: opening a port may take seconds, and the tray must never wait for that.
    bool takeCommands() {
        int port;
        {
            std::lock_guard<std::mutex> lock(commandMutex);
            if (stopWanted)
                return false;
            mode_ = wantedMode;
            port = wantedPort;
            if (wholeCubeWanted) {
                wholeCubeWanted = false;
                wholeCubeUntil_ = GetTickCount() + kWholeCubeMs;
                wholeCube_ = true;
            }
        }
        if (port != port_) {
            sendChar((char)kCubeStopByte);
            closePort();
            port_ = port;
            lit_ = false;
            lastReason_.clear();
            setStatusLit(false);
            setStatusPort(port_);
            openAndTell();
        }
        return true;
    }

    void sendFrame(DWORD now) {
        if (wholeCube_ && (long)(now - wholeCubeUntil_) >= 0)
            wholeCube_ = false;
        if (!lit_)
            return; // the library would try the port itself; the check above does it
        if (wholeCube_) {
            patternEntries[kPatternLevels](kLevelMax);
            return;
        }
        unsigned char block[kBlockSamples];
        feed_->newestBlock(block);
        patternEntries[mode_](channel_level(block));
    }

    // Open answers 1 at once while the port is held, and otherwise tries it again.
    void openAndTell() {
        DWORD started = GetTickCount();
        int opened = openPort(port_);
        DWORD reason = GetLastError();
        lastCheck_ = GetTickCount();
        slow_ = !opened && lastCheck_ - started >= kSlowTryMs;
        if (opened) {
            if (!lit_) {
                sendChar((char)kCubeStartByte);
                lit_ = true;
                lastReason_.clear();
                setStatusLit(true);
                tellNews("The cube on COM" + std::to_string(port_) + " is lit");
            }
            return;
        }
        std::string text = failureText(reason);
        if (lit_ || text != lastReason_) {
            lit_ = false;
            setStatusLit(false);
            lastReason_ = text;
            tellFailure(text);
        }
    }

    std::string failureText(DWORD reason) {
        if (port_error_is_in_use(reason) && pluginRunning())
            return "COM" + std::to_string(port_) +
                   " is in use by lumo in the player; the cube lights from here once the player "
                   "lets it go";
        char text[128];
        port_open_failure_text(text, sizeof text, port_, reason);
        return text;
    }

    void checkPort(DWORD now) {
        DWORD interval = slow_ ? kSlowPortCheckMs : kPortCheckMs;
        if (now - lastCheck_ >= interval)
            openAndTell();
    }

    SoundFeed* feed_;
    CubePattern mode_;
    int port_;
    bool lit_ = false;
    bool slow_ = false;
    bool wholeCube_ = false;
    DWORD wholeCubeUntil_ = 0;
    DWORD lastCheck_ = 0;
    std::string lastReason_;
};

void startCube(CubePattern mode, int port, SoundFeed* feed) {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        wantedMode = mode;
        wantedPort = port;
        stopWanted = false;
    }
    setStatusPort(port);
    cubeFinished = false;
    cubeThread = std::thread([=] {
        // Each frame has its time; the default timer granularity would blur 15 ms to 16.
        timeBeginPeriod(1);
        CubeRun(feed, mode, port).run();
        timeEndPeriod(1);
        cubeFinished = true;
    });
}

void setCubeMode(CubePattern mode) {
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedMode = mode;
}

void setCubePort(int port) {
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedPort = port;
}

void lightWholeCube() {
    std::lock_guard<std::mutex> lock(commandMutex);
    wholeCubeWanted = true;
}

void stopCube() {
    if (!cubeThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = true;
    }
    commandArrived.notify_all();
    // A port that takes seconds to give up may hold the thread; the process ends anyway.
    DWORD started = GetTickCount();
    while (!cubeFinished && GetTickCount() - started < kStopWaitMs)
        Sleep(10);
    if (cubeFinished)
        cubeThread.join();
    else
        cubeThread.detach();
}
