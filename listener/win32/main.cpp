// lumolisten.exe: lights the cube from whatever the PC plays, from the tray.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture.h"
#include "command_line.h"
#include "cube_library.h"
#include "cube_run.h"
#include "devices.h"
#include "light_control.h"
#include "modes.h"
#include "output.h"
#include "ports.h"
#include "report.h"
#include "settings.h"
#include "sound_feed.h"
#include "text.h"
#include "thread_name.h"
#include "tray.h"

enum { kExitStopped = 0, kExitTrouble = 1, kExitBadCommandLine = 2 };

static std::vector<std::string> arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (list == NULL)
        return args;
    for (int i = 1; i < count; ++i)
        args.push_back(utf8(list[i]));
    LocalFree(list);
    return args;
}

// What the one who typed the command line must see (a mistake, the --list) goes to standard
// output when that goes somewhere, else to the console the program was started from, if any: a
// program without a console of its own has nowhere else to write.
static void writeForCaller(const std::vector<std::string>& lines) {
    if (outputRedirected()) {
        for (const std::string& line : lines)
            writeOutputLine(line);
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::string text = "\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        std::wstring shown = wide(text);
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), shown.c_str(), (DWORD)shown.size(), &written,
                      NULL);
        FreeConsole();
    }
}

static void tellMistake(const std::string& text) {
    writeForCaller({"lumolisten: " + text});
}

// --list: what a script or a person choosing --port and --device can give, one a line.
static int listPortsAndDevices() {
    std::vector<std::string> lines;
    for (const PortEntry& port : listPorts(0))
        lines.push_back("port: " + portTitle(port));
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    IMMDeviceEnumerator* enumerator = createDeviceEnumerator();
    if (enumerator) {
        for (const std::string& name : recordingDeviceNames(enumerator))
            lines.push_back("recording device: " + name);
        enumerator->Release();
    }
    CoUninitialize();
    writeForCaller(lines);
    return kExitStopped;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    nameThisThread("lumo tray");
    CommandLine options;
    std::string mistake;
    if (!parseCommandLine(arguments(), kComPorts, &options, &mistake)) {
        tellMistake(mistake);
        return kExitBadCommandLine;
    }

    if (options.list)
        return listPortsAndDevices();

    // One listener per user: a second start leaves the first and its port alone.
    HANDLE instanceMutex = CreateMutexW(NULL, FALSE, L"Local\\lumolisten");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        writeOutputLine("Lumo Listen is already running; this copy leaves it alone");
        CloseHandle(instanceMutex);
        return kExitStopped;
    }

    ListenSettings settings = forThisRun(loadSettings(), options);
    // The cube library first: a machine without it still gets its icon and the reason.
    std::string libraryProblem;
    bool cubeBound = loadCubeLibrary(&libraryProblem);
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    // Kept for the tray's menu of recording devices.
    IMMDeviceEnumerator* enumerator = createDeviceEnumerator();
    if (options.device) {
        std::vector<std::string> names;
        if (enumerator)
            names = recordingDeviceNames(enumerator);
        if (std::find(names.begin(), names.end(), *options.device) == names.end()) {
            tellMistake(unknownDeviceMessage(*options.device, names));
            if (enumerator)
                enumerator->Release();
            CoUninitialize();
            CloseHandle(instanceMutex);
            return kExitBadCommandLine;
        }
    }

    setStatusMode(modeOf(settings.mode).name);
    setStatusPort(settings.port);
    setStatusListening(sourceTitle(settings.device));
    bool trayUp = createTray(instance, settings, enumerator);
    tellNews(std::string("Lumo Listen: ") + modeOf(settings.mode).name + " on " + settings.port +
             ", listening to " +
             (settings.device.empty() ? std::string("what this PC plays") : settings.device));
    if (!cubeBound)
        tellFailure(libraryProblem + ": put lumolink.dll beside lumolisten.exe");

    static SoundFeed feed;
    startCapture(settings.device, &feed);
    if (cubeBound) {
        startCube(cubeLibrary(), settings.mode, settings.port, &feed);
        if (settings.network)
            startLight(settings.universe);
    }
    if (trayUp) {
        runTray(options.seconds ? *options.seconds : 0);
        removeTray();
    } else {
        // No window at all (no desktop): nothing could ever ask it to stop, so it runs only for
        // the time a script asked, and ends at once without one.
        tellFailure("There is no tray to show the icon in");
        if (options.seconds)
            Sleep((DWORD)(*options.seconds * 1000));
        stopLight();
        stopCube();
        stopCapture();
    }
    if (enumerator)
        enumerator->Release();
    CoUninitialize();
    CloseHandle(instanceMutex);
    return cubeBound ? kExitStopped : kExitTrouble;
}
