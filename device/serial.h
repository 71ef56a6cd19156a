// The one serial port the library holds. Win32 only.
#pragma once

// Opens and configures COM<port>; 1 when a port is held on return. From here until
// serialClose the port is wanted: if it does not open, or goes away, sendFrame opens it again.
// On failure the thread's last error says why: the platform's reason for not opening it, or
// ERROR_NOT_SUPPORTED when it opened but refused the cube's line settings.
int serialOpen(int port);
// Lets the port go and ends the retrying.
void serialClose();
// Writes exactly `length` bytes (at most a start byte and a frame) in one overlapped write and
// waits for it, never for longer than a fraction of a second. 1 when all of them were written;
// 0 when not (no port, no event, or the line failed, took fewer bytes or stopped taking them,
// which also lets the port go).
int sendBytes(const unsigned char* data, int length);
// Writes a frame as sendBytes does. While the port is wanted but not open, it first tries to
// open it again, at most once a second, and then sends the start byte ahead of the frame.
int sendFrame(const unsigned char* frame, int length);
