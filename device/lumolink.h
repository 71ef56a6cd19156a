// The cube library's exported interface. The plugin binds these by name at run time; this
// header is for our own tests and tools that link against the library directly.
#pragma once

#ifdef LUMOLINK_BUILD
#define LUMOLINK_API __declspec(dllexport)
#else
#define LUMOLINK_API __declspec(dllimport)
#endif

extern "C" {
// Opens and configures COM<port> (19200 baud, 8N1, DTR and RTS off, no handshake, no abort on
// receive errors). 1 when a port is held on return (also when one already was: the first stays
// in use), 0 when none could be opened; the thread's last error then says why: the platform's
// reason (no such port, in use, ...), or ERROR_NOT_SUPPORTED when the port opened but refused
// the cube's line settings.
// Until Close, the pattern exports open the port again, at most once a second, whenever it is
// not open (it never opened, or a write failed), and send the start byte 0x4C ahead of the
// first frame after it came back; a port whose failed try took 300 ms or more is not tried
// again until the next Open.
LUMOLINK_API int __cdecl Open(int port);
// Closes the port if one is open and ends the retrying. Always 1.
LUMOLINK_API int __cdecl Close(void);
// Writes one raw byte, outside any frame. 1 when written, 0 when not (also with no port).
LUMOLINK_API int __cdecl sendChar(char byte);
// Each writes the one frame of its pattern that the level selects. Always 1. No export waits
// for the line longer than a fraction of a second; a write that runs out of time, or that the
// platform reports as cut short, has failed and lets the port go.
LUMOLINK_API int __cdecl setStar(int level);
LUMOLINK_API int __cdecl setLevel(int level);
LUMOLINK_API int __cdecl setNewStar(int level);
// Writes a frame of the caller's own choosing, one int per plane, plane 1 first: bit
// 5 x (row - 1) + column of a plane's int lights the LED at that row (1..5) and column (0..4) of
// the plane; bits above 24 are ignored, so any ints make a valid frame. Otherwise as the pattern
// exports: always 1, bounded, and it opens a lost port again as they do.
LUMOLINK_API int __cdecl setPlanes(int plane1, int plane2, int plane3, int plane4, int plane5);

// Leftovers that older callers may still look up; nothing in the system uses them.
LUMOLINK_API int __cdecl LumolinkOpen(int ignored);
LUMOLINK_API extern int nLumolink;
}

class LUMOLINK_API CLumolink {
  public:
    CLumolink();
    CLumolink& operator=(const CLumolink& other);
};
