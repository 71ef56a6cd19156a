// What the cube library asks of the platform when it opens a port, seen and steered from outside
// through its imports: the exact arguments, which a pseudo-terminal cannot show (a pty has no
// modem lines, and Wine ignores the share mode), and the answers Wine never gives (a port that
// another program holds).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// From now on, every open of a COM port by `library` fails with `error` as the last error,
// after `delayMs` (as a Bluetooth port takes to give up on a device that is off); error 0 lets
// them through again. False when the library does not import CreateFileA.
bool failPortOpens(HMODULE library, DWORD error, DWORD delayMs = 0);

// From now on, the library's CancelIo does nothing, as with a driver that never gives up a
// write: what the library does when even a cancelled write does not end.
bool ignoreCancels(HMODULE library);

// From now on, records the arguments `library` passes to CreateFileA, SetCommTimeouts and
// SetCommState, one line per call ("CreateFileA name=\\.\COM3 access=0xc0000000 share=0
// creation=3 flags=0x40000000", "SetCommTimeouts read=4294967295,0,0 write=0,0",
// "SetCommState baud=19200 size=8 parity=0 stop=0 dtr=0 rts=0 cts=0 dsr=0 outx=0 inx=0").
bool recordPortCalls(HMODULE library);
// The lines recorded since the last call.
std::vector<std::string> takePortCalls();
