// The one serial port the cube's link holds. One backend per platform, chosen by the build:
// serial_win32.cpp (lumolink.dll) and serial_posix.cpp (the Linux listener's built-in link).
#pragma once

enum {
    // The longest device name a port is opened by, terminator included; a longer one fails.
    kSerialDeviceNameSize = 256,
};

// Opens and configures the device ("\\.\COM3" on Windows, "/dev/ttyUSB0" or a link in
// /dev/serial/by-id elsewhere); 1 when a port is held on return, also when one already was (the
// first stays in use). From here until serialClose the port is wanted: if it does not open, or
// goes away, sendFrame opens it again.
// On failure the platform's own error says why. Win32: the thread's last error, the platform's
// reason for not opening it, or ERROR_NOT_SUPPORTED when it opened but refused the cube's line
// settings. POSIX: errno, one of ENOENT (no such device, or a link to nothing), EBUSY (another
// program holds it), EACCES (no permission), ENOTTY (not a terminal, or it refused the line
// settings), or whatever else the system said.
int serialOpen(const char* device);
// Lets the port go and ends the retrying.
void serialClose();
// Writes exactly `length` bytes (at most a start byte and a frame) in one write and waits for
// it, never for longer than a fraction of a second. 1 when all of them were written; 0 when not
// (no port, or the line failed, took fewer bytes or stopped taking them, which also lets the
// port go).
int sendBytes(const unsigned char* data, int length);
// Writes a frame as sendBytes does. While the port is wanted but not open, it first tries to
// open it again, at most once a second, and then sends the start byte ahead of the frame.
int sendFrame(const unsigned char* frame, int length);
