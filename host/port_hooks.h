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

// From now on, the line settings `library` reads from a port have "abort on error" on, as a
// driver or another program may leave them: every write then fails after a receive error.
bool reportAbortOnError(HMODULE library);

// From now on, every port `library` opens refuses the line settings (SetCommState fails), and
// closing it takes `closeDelayMs`: a driver whose handle takes seconds to close (seen with a
// real UART under Wine: 2 s a close).
bool refusePortSettings(HMODULE library, DWORD closeDelayMs);

// The library's next write of more than one byte puts only half of them on the line and reports
// that count, as a driver does while its USB adapter goes away.
bool shortenNextWrite(HMODULE library);

// The library's next write stays pending for `delayMs` and then completes in full, as on a busy
// line: for a write that completes after the library's time limit but before its cancel.
bool delayNextWrite(HMODULE library, DWORD delayMs);

// From now on, records the arguments `library` passes to CreateFileA, SetCommTimeouts and
// SetCommState, one line per call ("CreateFileA name=\\.\COM3 access=0xc0000000 share=0
// creation=3 flags=0x40000000", "SetCommTimeouts read=4294967295,0,0 write=0,0",
// "SetCommState baud=19200 size=8 parity=0 stop=0 dtr=0 rts=0 cts=0 dsr=0 outx=0 inx=0
// abort=0").
bool recordPortCalls(HMODULE library);
// The lines recorded since the last call.
std::vector<std::string> takePortCalls();
