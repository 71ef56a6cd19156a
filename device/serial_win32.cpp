// The cube's serial link on Win32: one overlapped handle, each write waited for within a limit.
#include "serial.h"

#include <windows.h>

#include <string.h>

#include "frames.h"

enum {
    // Frames come back this long after the port went away: often enough that a cube plugged
    // back in lights within a second, seldom enough that a missing port costs the host nothing.
    kReopenIntervalMs = 1000,
    // A frame takes 14 ms on the line, so only a line that has stopped taking bytes (a cube
    // that stops reading, a driver that never completes) reaches these. Together they keep
    // every export under half a second.
    kWriteLimitMs = 300,
    kCancelLimitMs = 100,
    // A failed try at the port that took this long (a Bluetooth port trying to reach a device
    // that is off can take seconds) would stall the host each time it is retried.
    kSlowOpenMs = 300,
    // The longest write: the start byte with a frame behind it, after the port came back.
    kLongestWrite = 1 + kCubeFrameSize,
};

// Null while no port is open.
static HANDLE hPort = NULL;

// The port the caller's run wants, from Open (whether or not it opened) to Close. While it is
// wanted and not open, frame writes open it again.
static bool portWanted = false;
static char wantedDevice[kSerialDeviceNameSize];
static DWORD lastOpenAttempt = 0; // GetTickCount at the end of the last try, or of letting go

// Each write's request and bytes live here rather than on the caller's stack: a write that a
// driver will not give up even when cancelled must not be left pointing at a stack frame that
// is gone. Calls come one at a time, so one of each is enough.
static OVERLAPPED writeRequest;
static unsigned char writeBytes[kLongestWrite];
// The event of such a stuck write, until the platform finally completes it; null otherwise.
static HANDLE stuckWriteEvent = NULL;

// One try at opening and configuring the port; on failure the thread's last error says why.
static int tryOpen(const char* device) {
    // Not shared: two programs writing frames to one cube would garble both.
    HANDLE handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    hPort = handle;

    // Reads would return at once. Writes are bounded by our own wait, not by the driver.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(hPort, &timeouts);

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(hPort, &dcb);
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Many cubes' controllers reset when DTR rises.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // The cube drives no handshake line and sends no XOFF. Left on by another program, any of
    // these would hold back every write for good.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // Left on, the first receive error (noise on a line nobody reads) fails every write until
    // someone clears it, and the port would be dropped and reopened over and over.
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(hPort, &dcb)) {
        // Not a serial port the cube can use: hold nothing, and say so in the one code the
        // caller can tell from every reason the open itself gives.
        CloseHandle(hPort);
        hPort = NULL;
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    return 1;
}

static int openPort() {
    DWORD started = GetTickCount();
    int opened = tryOpen(wantedDevice);
    DWORD reason = GetLastError();
    lastOpenAttempt = GetTickCount();
    // A try that failed this slowly, however it failed (an open that takes seconds to give up,
    // a driver whose handle takes seconds to close after refused settings), would stall the
    // host as long each time: it is not tried again until the next Open.
    if (!opened && lastOpenAttempt - started >= kSlowOpenMs)
        portWanted = false;
    SetLastError(reason); // for the caller, to tell the user
    return opened;
}

int serialOpen(const char* device) {
    if (hPort != NULL)
        return 1;
    size_t length = strlen(device);
    if (length >= kSerialDeviceNameSize) {
        portWanted = false;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    portWanted = true;
    memcpy(wantedDevice, device, length + 1);
    return openPort();
}

void serialClose() {
    portWanted = false;
    if (hPort != NULL) {
        CloseHandle(hPort);
        hPort = NULL;
    }
}

// A handle whose write failed never works again (an unplugged USB adapter's stays dead even
// after it is back), so the port is let go and opened afresh later.
static void letPortGo() {
    CloseHandle(hPort);
    hPort = NULL;
    lastOpenAttempt = GetTickCount();
}

// True once no stuck write holds the request any more.
static bool requestFree() {
    if (stuckWriteEvent == NULL)
        return true;
    if (WaitForSingleObject(stuckWriteEvent, 0) != WAIT_OBJECT_0)
        return false;
    CloseHandle(stuckWriteEvent);
    stuckWriteEvent = NULL;
    return true;
}

enum WriteOutcome {
    kWritten,
    kNotStarted, // nothing reached the port: no port, no event, the request still held
    kLineFailed, // the port refused the bytes or did not take them in time
};

// One overlapped write, waited for within the limits above. Only the whole of the bytes, as the
// platform counts them, is a write: a driver reports fewer while its USB adapter goes away.
static WriteOutcome writeOnce(const unsigned char* data, int length) {
    if (hPort == NULL || length < 0 || length > kLongestWrite || !requestFree())
        return kNotStarted;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (event == NULL)
        return kNotStarted;
    memcpy(writeBytes, data, (size_t)length);
    ZeroMemory(&writeRequest, sizeof writeRequest);
    writeRequest.hEvent = event;

    if (!WriteFile(hPort, writeBytes, (DWORD)length, NULL, &writeRequest)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            CloseHandle(event);
            return kLineFailed;
        }
        if (WaitForSingleObject(event, kWriteLimitMs) != WAIT_OBJECT_0) {
            // The line has stopped taking bytes: take the request back so the caller goes on.
            CancelIo(hPort);
            if (WaitForSingleObject(event, kCancelLimitMs) != WAIT_OBJECT_0) {
                stuckWriteEvent = event; // closed once the platform lets go of the request
                return kLineFailed;
            }
        }
    }
    // Finished now, also when it finished after the time limit but before the cancel took
    // hold: then it was written, and letting the port go would only cost a needless reopen.
    DWORD written = 0;
    BOOL finished = GetOverlappedResult(hPort, &writeRequest, &written, FALSE);
    CloseHandle(event);
    return finished && written == (DWORD)length ? kWritten : kLineFailed;
}

int sendBytes(const unsigned char* data, int length) {
    WriteOutcome outcome = writeOnce(data, length);
    if (outcome == kLineFailed)
        letPortGo();
    return outcome == kWritten ? 1 : 0;
}

// Asked only while no port is open.
static bool reopenDue() {
    return portWanted && GetTickCount() - lastOpenAttempt >= kReopenIntervalMs && requestFree();
}

int sendFrame(const unsigned char* frame, int length) {
    if (hPort != NULL)
        return sendBytes(frame, length);
    if (!reopenDue() || length > kCubeFrameSize || !openPort())
        return 0;
    // The cube starts afresh when its line comes back: the start byte goes ahead of the frame,
    // in the same write, so the call waits once.
    unsigned char restart[kLongestWrite];
    restart[0] = kCubeStartByte;
    memcpy(restart + 1, frame, (size_t)length);
    return sendBytes(restart, 1 + length);
}
