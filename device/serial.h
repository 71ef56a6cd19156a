// The one serial port the library holds. Win32 only.
#pragma once

int serialOpen(int port);
void serialClose();
// Writes exactly `length` bytes in one overlapped write and waits for it to finish.
// 1 on success, 0 on failure (no port, no event, or the platform reports an error).
int sendBytes(const unsigned char* data, int length);
