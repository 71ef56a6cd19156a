// The exports of lumolink.dll: the cube's link (cube_link.h) as the plugin binds it.
#include "lumolink.h"

#include <windows.h>

#include <string.h>

#include "cube_link.h"

int nLumolink = 0;

extern "C" {

int __cdecl Open(int port) {
    // Through the device namespace, because Windows opens only COM1 to COM9 by their bare
    // names. "\\.\COM" and the most negative int with its terminator need 19 characters.
    char name[24];
    wsprintfA(name, "\\\\.\\COM%d", port);
    return cubeLinkOpen(name);
}

int __cdecl Close(void) {
    cubeLinkClose();
    return 1;
}

int __cdecl sendChar(char byte) {
    return cubeLinkSendChar((unsigned char)byte);
}

int __cdecl setStar(int level) {
    return cubeLinkShowLevel(kPatternStar, level);
}
int __cdecl setLevel(int level) {
    return cubeLinkShowLevel(kPatternLevels, level);
}
int __cdecl setNewStar(int level) {
    return cubeLinkShowLevel(kPatternNewStar, level);
}

int __cdecl setPlanes(int plane1, int plane2, int plane3, int plane4, int plane5) {
    CubePlanes planes = {{plane1, plane2, plane3, plane4, plane5}};
    return cubeLinkShowPlanes(planes);
}

int __cdecl LumolinkOpen(int) {
    return 42;
}

} // extern "C"

CLumolink::CLumolink() {}

CLumolink& CLumolink::operator=(const CLumolink& other) {
    memcpy(this, &other, sizeof *this);
    return *this;
}
