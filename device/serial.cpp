#include "serial.h"

#include <windows.h>

// Null while no port is open; only serialOpen sets it.
static HANDLE hPort = NULL;

int serialOpen(int port) {
    if (hPort != NULL)
        return 1;

    // Through the device namespace, because Windows opens only COM1 to COM9 by their bare
    // names. "\\.\COM" and the most negative int with its terminator need 19 characters.
    char name[24];
    wsprintfA(name, "\\\\.\\COM%d", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    hPort = handle;

    // Reads would return at once; writes have no time limit.
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
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(hPort, &dcb)) {
        // Not a serial port we can drive (or it refused the settings): hold nothing.
        CloseHandle(hPort);
        hPort = NULL;
        return 0;
    }
    return 1;
}

void serialClose() {
    if (hPort != NULL) {
        CloseHandle(hPort);
        hPort = NULL;
    }
}

int sendBytes(const unsigned char* data, int length) {
    // No platform call on a handle we know is not there.
    if (hPort == NULL)
        return 0;

    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (event == NULL)
        return 0;

    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = event;

    DWORD written = 0;
    int result = 0;
    if (WriteFile(hPort, data, (DWORD)length, &written, &overlapped))
        result = 1;
    else if (GetLastError() == ERROR_IO_PENDING)
        result = GetOverlappedResult(hPort, &overlapped, &written, TRUE) ? 1 : 0;

    CloseHandle(event);
    return result;
}
