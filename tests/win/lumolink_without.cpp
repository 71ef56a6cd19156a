// The cube library with one export left out (LUMO_WITHOUT_<name>): the plugin must refuse it
// with that export's own message and open no port. Every other export does what the real
// library's does, on the same link and serial code.
#include <windows.h>

#include "cube_link.h"

#define EXPORT extern "C" __declspec(dllexport)

#ifndef LUMO_WITHOUT_Open
EXPORT int __cdecl Open(int port) {
    char name[24]; // as lumolink.cpp names it
    wsprintfA(name, "\\\\.\\COM%d", port);
    return cubeLinkOpen(name);
}
#endif
#ifndef LUMO_WITHOUT_Close
EXPORT int __cdecl Close(void) {
    cubeLinkClose();
    return 1;
}
#endif
#ifndef LUMO_WITHOUT_sendChar
EXPORT int __cdecl sendChar(char byte) {
    return cubeLinkSendChar((unsigned char)byte);
}
#endif
#ifndef LUMO_WITHOUT_setStar
EXPORT int __cdecl setStar(int level) {
    return cubeLinkShowLevel(kPatternStar, level);
}
#endif
#ifndef LUMO_WITHOUT_setLevel
EXPORT int __cdecl setLevel(int level) {
    return cubeLinkShowLevel(kPatternLevels, level);
}
#endif
#ifndef LUMO_WITHOUT_setNewStar
EXPORT int __cdecl setNewStar(int level) {
    return cubeLinkShowLevel(kPatternNewStar, level);
}
#endif
