// lumolisten on Linux: lights the cube from whatever the machine plays, as a user's program or
// service. No window: what it tells goes to standard output, one line each, and a service's
// journal keeps it. SIGTERM and SIGINT stop it cleanly (the cube gets its stop byte), SIGHUP
// reads the settings again.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture.h"
#include "command_line.h"
#include "cube_run.h"
#include "cube_serial.h"
#include "instance_lock.h"
#include "light_control.h"
#include "report.h"
#include "serial_ports.h"
#include "settings.h"
#include "sound_feed.h"

enum { kExitStopped = 0, kExitTrouble = 1, kExitBadCommandLine = 2 };

static void tellMistake(const std::string& text) {
    std::printf("lumolisten: %s\n", text.c_str());
    std::fflush(stdout);
}

// --list: what a person choosing --port and --device can give, one a line.
static int listPortsAndDevices() {
    std::vector<std::string> ports = serialPortLines();
    if (ports.empty())
        std::printf("This machine has no serial ports; plug in the cube's USB adapter\n");
    for (const std::string& line : ports)
        std::printf("port: %s\n", line.c_str());
    std::vector<std::string> descriptions, names;
    if (!recordingDevices(&descriptions, &names))
        std::printf("No sound server answered, so no recording devices are listed\n");
    else if (descriptions.empty())
        std::printf("The sound server has no recording devices\n");
    for (const std::string& description : descriptions)
        std::printf("recording device: %s\n", description.c_str());
    std::fflush(stdout);
    return kExitStopped;
}

// The run's choices: the settings files, then what the command line says for this run.
static ListenSettings chosenSettings(const CommandLine& options) {
    return forThisRun(loadSettings(), options);
}

static std::string listeningTo(const ListenSettings& settings) {
    return settings.device.empty() ? std::string("what this machine plays") : settings.device;
}

// Waits for a signal that stops the run, or the run's seconds; SIGHUP reads the settings again.
static void runUntilStopped(const CommandLine& options, ListenSettings* settings) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    struct timespec started;
    clock_gettime(CLOCK_MONOTONIC, &started);
    for (;;) {
        struct timespec wait = {1, 0};
        if (options.seconds) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            double left = *options.seconds - (double)(now.tv_sec - started.tv_sec) -
                          (double)(now.tv_nsec - started.tv_nsec) / 1e9;
            if (left <= 0)
                return;
            if (left < 1) {
                wait.tv_sec = 0;
                wait.tv_nsec = (long)(left * 1e9);
            }
        }
        int caught = sigtimedwait(&signals, nullptr, &wait);
        if (caught == SIGTERM || caught == SIGINT)
            return;
        if (caught != SIGHUP)
            continue;
        ListenSettings again = chosenSettings(options);
        if (again.mode != settings->mode) {
            setCubeMode(again.mode);
            setStatusMode(modeOf(again.mode).name);
            tellNews(std::string("Showing ") + modeOf(again.mode).name);
        }
        if (again.port != settings->port)
            setCubePort(again.port);
        // The capture thread tells what it listens to once it does.
        if (again.network != settings->network || again.universe != settings->universe) {
            if (again.network)
                startLight(again.universe);
            else
                stopLight();
        }
        if (again.device != settings->device)
            setCaptureDevice(again.device);
        *settings = again;
    }
}

int main(int argc, char** argv) {
    // Every thread started from here on leaves these signals to the main thread's wait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A cube unplugged mid-write must not end the program.
    signal(SIGPIPE, SIG_IGN);

    CommandLine options;
    std::string mistake;
    if (!parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), kDevicePaths, &options,
                          &mistake)) {
        tellMistake(mistake);
        return kExitBadCommandLine;
    }
    if (options.list)
        return listPortsAndDevices();

    // One listener per user: a second start leaves the first and its port alone.
    if (!takeInstanceLock()) {
        tellNews("Lumo Listen is already running; this copy leaves it alone");
        return kExitStopped;
    }
    if (options.device) {
        // A server that does not answer yet (a service started before it) is no mistake: the
        // device is looked for once it does.
        std::vector<std::string> descriptions, names;
        if (recordingDevices(&descriptions, &names) &&
            std::find(descriptions.begin(), descriptions.end(), *options.device) ==
                descriptions.end() &&
            std::find(names.begin(), names.end(), *options.device) == names.end()) {
            tellMistake(unknownDeviceMessage(*options.device, descriptions));
            return kExitBadCommandLine;
        }
    }

    ListenSettings settings = chosenSettings(options);
    setStatusMode(modeOf(settings.mode).name);
    setStatusPort(settings.port);
    setStatusListening(sourceTitle(settings.device));
    tellNews(std::string("Lumo Listen: ") + modeOf(settings.mode).name + " on " + settings.port +
             ", listening to " + listeningTo(settings));

    static SoundFeed feed;
    startCapture(settings.device, &feed);
    startCube(serialCube(), settings.mode, settings.port, &feed);
    if (settings.network)
        startLight(settings.universe);
    runUntilStopped(options, &settings);
    stopLight();
    stopCube();
    stopCapture();
    tellNews("Stopped; the cube on " + currentStatus().port + " is let go");
    return kExitStopped;
}
