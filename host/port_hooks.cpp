#include "port_hooks.h"

#include <stdarg.h>
#include <stdio.h>

#include "import_hook.h"

namespace {

typedef HANDLE(WINAPI* CreateFileAFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                            DWORD, HANDLE);
typedef BOOL(WINAPI* SetCommTimeoutsFunction)(HANDLE, LPCOMMTIMEOUTS);
typedef BOOL(WINAPI* SetCommStateFunction)(HANDLE, LPDCB);
typedef BOOL(WINAPI* GetCommStateFunction)(HANDLE, LPDCB);
typedef BOOL(WINAPI* CloseHandleFunction)(HANDLE);
typedef BOOL(WINAPI* WriteFileFunction)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

CreateFileAFunction realCreateFileA = CreateFileA;
SetCommTimeoutsFunction realSetCommTimeouts = SetCommTimeouts;
SetCommStateFunction realSetCommState = SetCommState;
GetCommStateFunction realGetCommState = GetCommState;
CloseHandleFunction realCloseHandle = CloseHandle;
WriteFileFunction realWriteFile = WriteFile;
DWORD openError = 0;
DWORD openDelayMs = 0;
HANDLE lastPort = INVALID_HANDLE_VALUE; // the handle of the newest port opened
bool settingsRefused = false;
DWORD portCloseDelayMs = 0;
bool shortenWrite = false;
DWORD writeDelayMs = 0;
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
    HANDLE port = realCreateFileA(name, access, share, security, creation, flags, templateFile);
    if (port != INVALID_HANDLE_VALUE)
        lastPort = port;
    return port;
}

BOOL WINAPI slowCloseHandle(HANDLE handle) {
    if (handle == lastPort)
        Sleep(portCloseDelayMs);
    return realCloseHandle(handle);
}

// A write that finishes late, as a driver finishes it: the request stays pending, then its
// result and count are filled in and its event set, from a thread of its own.
struct LateWrite {
    HANDLE port;
    LPCVOID data;
    DWORD length;
    LPOVERLAPPED request;
    DWORD delayMs;
} lateWrite;

DWORD WINAPI finishLateWrite(LPVOID) {
    Sleep(lateWrite.delayMs);
    OVERLAPPED own;
    ZeroMemory(&own, sizeof own);
    own.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD written = 0;
    if (realWriteFile(lateWrite.port, lateWrite.data, lateWrite.length, NULL, &own) ||
        GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(lateWrite.port, &own, &written, TRUE);
    realCloseHandle(own.hEvent);
    lateWrite.request->InternalHigh = written;
    lateWrite.request->Internal = 0; // STATUS_SUCCESS
    SetEvent(lateWrite.request->hEvent);
    return 0;
}

BOOL WINAPI hookedWriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                            LPOVERLAPPED request) {
    if (shortenWrite && length > 1) {
        shortenWrite = false;
        return realWriteFile(file, data, length / 2, written, request);
    }
    if (writeDelayMs > 0 && request != NULL) {
        lateWrite = {file, data, length, request, writeDelayMs};
        writeDelayMs = 0;
        request->Internal = 0x103; // STATUS_PENDING
        request->InternalHigh = 0;
        HANDLE thread = CreateThread(NULL, 0, finishLateWrite, NULL, 0, NULL);
        realCloseHandle(thread);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return realWriteFile(file, data, length, written, request);
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

BOOL WINAPI abortingGetCommState(HANDLE port, LPDCB dcb) {
    BOOL read = realGetCommState(port, dcb);
    dcb->fAbortOnError = TRUE;
    return read;
}

BOOL WINAPI hookedSetCommState(HANDLE port, LPDCB dcb) {
    record("SetCommState baud=%lu size=%u parity=%u stop=%u dtr=%u rts=%u cts=%u dsr=%u outx=%u "
           "inx=%u abort=%u",
           (unsigned long)dcb->BaudRate, (unsigned)dcb->ByteSize, (unsigned)dcb->Parity,
           (unsigned)dcb->StopBits, (unsigned)dcb->fDtrControl, (unsigned)dcb->fRtsControl,
           (unsigned)dcb->fOutxCtsFlow, (unsigned)dcb->fOutxDsrFlow, (unsigned)dcb->fOutX,
           (unsigned)dcb->fInX, (unsigned)dcb->fAbortOnError);
    if (settingsRefused) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
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

bool reportAbortOnError(HMODULE library) {
    return hookOnce(library, "GetCommState", abortingGetCommState, &realGetCommState);
}

bool refusePortSettings(HMODULE library, DWORD closeDelayMs) {
    settingsRefused = true;
    portCloseDelayMs = closeDelayMs;
    return hookOnce(library, "CreateFileA", hookedCreateFileA, &realCreateFileA) &&
           hookOnce(library, "SetCommState", hookedSetCommState, &realSetCommState) &&
           hookOnce(library, "CloseHandle", slowCloseHandle, &realCloseHandle);
}

bool shortenNextWrite(HMODULE library) {
    shortenWrite = true;
    return hookOnce(library, "WriteFile", hookedWriteFile, &realWriteFile);
}

bool delayNextWrite(HMODULE library, DWORD delayMs) {
    writeDelayMs = delayMs;
    return hookOnce(library, "WriteFile", hookedWriteFile, &realWriteFile);
}

std::vector<std::string> takePortCalls() {
    std::vector<std::string> lines;
    lines.swap(recorded);
    return lines;
}
