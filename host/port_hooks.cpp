#include "port_hooks.h"

#include <stdarg.h>
#include <stdio.h>

#include "import_hook.h"

namespace {

typedef HANDLE(WINAPI* CreateFileAFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                            DWORD, HANDLE);
typedef BOOL(WINAPI* SetCommTimeoutsFunction)(HANDLE, LPCOMMTIMEOUTS);
typedef BOOL(WINAPI* SetCommStateFunction)(HANDLE, LPDCB);

CreateFileAFunction realCreateFileA = CreateFileA;
SetCommTimeoutsFunction realSetCommTimeouts = SetCommTimeouts;
SetCommStateFunction realSetCommState = SetCommState;
DWORD openError = 0;
DWORD openDelayMs = 0;
bool recording = false;
std::vector<std::string> recorded;

void record(const char* format, ...) {
    if (!recording)
        return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    recorded.push_back(line);
}

HANDLE WINAPI hookedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                HANDLE templateFile) {
    record("CreateFileA name=%s access=0x%lx share=%lu creation=%lu flags=0x%lx", name,
           (unsigned long)access, (unsigned long)share, (unsigned long)creation,
           (unsigned long)flags);
    if (openError != 0) {
        Sleep(openDelayMs);
        SetLastError(openError);
        return INVALID_HANDLE_VALUE;
    }
    return realCreateFileA(name, access, share, security, creation, flags, templateFile);
}

BOOL WINAPI ignoredCancelIo(HANDLE) {
    return TRUE;
}

BOOL WINAPI hookedSetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    record("SetCommTimeouts read=%lu,%lu,%lu write=%lu,%lu",
           (unsigned long)timeouts->ReadIntervalTimeout,
           (unsigned long)timeouts->ReadTotalTimeoutMultiplier,
           (unsigned long)timeouts->ReadTotalTimeoutConstant,
           (unsigned long)timeouts->WriteTotalTimeoutMultiplier,
           (unsigned long)timeouts->WriteTotalTimeoutConstant);
    return realSetCommTimeouts(port, timeouts);
}

BOOL WINAPI hookedSetCommState(HANDLE port, LPDCB dcb) {
    record("SetCommState baud=%lu size=%u parity=%u stop=%u dtr=%u rts=%u cts=%u dsr=%u outx=%u "
           "inx=%u",
           (unsigned long)dcb->BaudRate, (unsigned)dcb->ByteSize, (unsigned)dcb->Parity,
           (unsigned)dcb->StopBits, (unsigned)dcb->fDtrControl, (unsigned)dcb->fRtsControl,
           (unsigned)dcb->fOutxCtsFlow, (unsigned)dcb->fOutxDsrFlow, (unsigned)dcb->fOutX,
           (unsigned)dcb->fInX);
    return realSetCommState(port, dcb);
}

// Hooks a KERNEL32 import once; a second hook would record the hook as the real function.
template <typename Function>
bool hookOnce(HMODULE library, const char* name, Function replacement, Function* real) {
    void* original = nullptr;
    if (!hookImport(library, "KERNEL32.dll", name, (void*)replacement, &original))
        return false;
    if (original != (void*)replacement)
        *real = (Function)original;
    return true;
}

} // namespace

bool failPortOpens(HMODULE library, DWORD error, DWORD delayMs) {
    openError = error;
    openDelayMs = delayMs;
    return hookOnce(library, "CreateFileA", hookedCreateFileA, &realCreateFileA);
}

bool ignoreCancels(HMODULE library) {
    void* original = nullptr;
    return hookImport(library, "KERNEL32.dll", "CancelIo", (void*)ignoredCancelIo, &original);
}

bool recordPortCalls(HMODULE library) {
    recording = true;
    return hookOnce(library, "CreateFileA", hookedCreateFileA, &realCreateFileA) &&
           hookOnce(library, "SetCommTimeouts", hookedSetCommTimeouts, &realSetCommTimeouts) &&
           hookOnce(library, "SetCommState", hookedSetCommState, &realSetCommState);
}

std::vector<std::string> takePortCalls() {
    std::vector<std::string> lines;
    lines.swap(recorded);
    return lines;
}
