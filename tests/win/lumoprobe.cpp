// lumoprobe [DLL]: loads the cube library (default: lumolink.dll beside this program), binds its
// exports by name and runs one command per stdin line, answering "ok <result>" or "error ...":
//   Open N | Close | sendChar N | setStar N | setLevel N | setNewStar N | LumolinkOpen N
//   setPlanes A B C D E       the five planes' ints, plane 1 first
//   repeat COUNT EXPORT N     call a one-argument export COUNT times (answers the last result)
//   nLumolink                 the exported variable's value
//   eventslot                 the handle value a new event gets (unchanged unless events leak)
//   leak                      create an event and never close it (proves eventslot sees leaks)
//   lasterror                 the thread's last error right after the latest export call
//   openfails ERROR [MS]      the library's opens of a port fail with ERROR from now on (0: no
//                             longer), as when another program holds the port, after MS
//                             milliseconds, as a Bluetooth port gives up on a device that is off
//   ignorecancels             the library's CancelIo does nothing from now on (a driver that
//                             never gives up a write)
//   abortonerror              from now on the line settings the library reads have "abort on
//                             error" on
//   shortwrite                the library's next write puts only half its bytes on the line
//   latewrite MS              the library's next write completes only after MS milliseconds
//   record                    from now on, note what the library passes to the platform when
//                             it opens a port; each later answer is preceded by one
//                             "event <call> ..." line per call (see host/port_hooks.h)
//   exit
#include <windows.h>

#include <stdio.h>
#include <string>

#include "port_hooks.h"

typedef int(__cdecl* IntFunction)(int);
typedef int(__cdecl* VoidFunction)(void);
typedef int(__cdecl* CharFunction)(char);
typedef int(__cdecl* PlanesFunction)(int, int, int, int, int);

static HMODULE library;
static DWORD lastError = 0; // right after the latest export call

template <class Pointer> static Pointer bind(const char* name) {
    FARPROC address = GetProcAddress(library, name);
    if (address == NULL) {
        printf("error %s is not exported\n", name);
        fflush(stdout);
    }
    return reinterpret_cast<Pointer>(reinterpret_cast<void*>(address));
}

static bool callIntExport(const std::string& name, int argument, int* result) {
    if (name == "sendChar") {
        CharFunction function = bind<CharFunction>("sendChar");
        *result = function ? function((char)argument) : -1;
        lastError = GetLastError();
        return function != NULL;
    }
    IntFunction function = bind<IntFunction>(name.c_str());
    *result = function ? function(argument) : -1;
    lastError = GetLastError();
    return function != NULL;
}

static void answer(int value) {
    for (const std::string& call : takePortCalls())
        printf("event %s\n", call.c_str());
    printf("ok %d\n", value);
    fflush(stdout);
}

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "lumolink.dll";
    library = LoadLibraryA(path);
    if (library == NULL) {
        printf("error cannot load %s (%lu)\n", path, GetLastError());
        return 1;
    }
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        char name[64] = "";
        long long numbers[3] = {0, 0, 0};
        char second[64] = "";
        int fields = sscanf(line, "%63s %lld %lld", name, &numbers[0], &numbers[1]);
        std::string command = name;
        int result = 0;
        if (fields <= 0)
            continue;
        if (command == "exit") {
            answer(0);
            break;
        } else if (command == "Close") {
            VoidFunction function = bind<VoidFunction>("Close");
            if (function)
                answer(function());
        } else if (command == "nLumolink") {
            int* variable = bind<int*>("nLumolink");
            if (variable)
                answer(*variable);
        } else if (command == "eventslot") {
            HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
            answer((int)(INT_PTR)event);
            CloseHandle(event);
        } else if (command == "leak") {
            CreateEventA(NULL, TRUE, FALSE, NULL);
            answer(0);
        } else if (command == "lasterror") {
            answer((int)lastError);
        } else if (command == "openfails" && fields >= 2) {
            answer(failPortOpens(library, (DWORD)numbers[0], (DWORD)numbers[1]) ? 1 : 0);
        } else if (command == "ignorecancels") {
            answer(ignoreCancels(library) ? 1 : 0);
        } else if (command == "abortonerror") {
            answer(reportAbortOnError(library) ? 1 : 0);
        } else if (command == "shortwrite") {
            answer(shortenNextWrite(library) ? 1 : 0);
        } else if (command == "latewrite" && fields >= 2) {
            answer(delayNextWrite(library, (DWORD)numbers[0]) ? 1 : 0);
        } else if (command == "record") {
            answer(recordPortCalls(library) ? 1 : 0);
        } else if (command == "setPlanes") {
            long long planes[5];
            PlanesFunction function = bind<PlanesFunction>("setPlanes");
            if (sscanf(line, "%*s %lld %lld %lld %lld %lld", &planes[0], &planes[1], &planes[2],
                       &planes[3], &planes[4]) != 5) {
                printf("error setPlanes takes five numbers: %s", line);
                fflush(stdout);
            } else if (function) {
                result = function((int)planes[0], (int)planes[1], (int)planes[2], (int)planes[3],
                                  (int)planes[4]);
                lastError = GetLastError();
                answer(result);
            }
        } else if (command == "repeat" &&
                   sscanf(line, "%*s %lld %63s %lld", &numbers[0], second, &numbers[1]) == 3) {
            bool bound = true;
            for (long long i = 0; i < numbers[0] && bound; ++i)
                bound = callIntExport(second, (int)numbers[1], &result);
            if (bound)
                answer(result);
        } else if (fields == 2) {
            if (callIntExport(command, (int)numbers[0], &result))
                answer(result);
        } else {
            printf("error unknown command: %s", line);
            fflush(stdout);
        }
    }
    return 0;
}
