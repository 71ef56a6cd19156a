// The cube library with one export left out (LUMO_WITHOUT_<name>): the plugin must refuse it
// with that export's own message and open no port. Every other export does what the real
// library's does, on the same serial code.
#include "frames.h"
#include "serial.h"

#define EXPORT extern "C" __declspec(dllexport)

static int sendPattern(CubePattern pattern, int level) {
    CubeFrame frame;
    buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
    sendFrame(frame.bytes, kCubeFrameSize);
    return 1;
}

#ifndef LUMO_WITHOUT_Open
EXPORT int __cdecl Open(int port) {
    return serialOpen(port);
}
#endif
#ifndef LUMO_WITHOUT_Close
EXPORT int __cdecl Close(void) {
    serialClose();
    return 1;
}
#endif
#ifndef LUMO_WITHOUT_sendChar
EXPORT int __cdecl sendChar(char byte) {
    unsigned char raw = (unsigned char)byte;
    return sendBytes(&raw, 1);
}
#endif
#ifndef LUMO_WITHOUT_setStar
EXPORT int __cdecl setStar(int level) {
    return sendPattern(kPatternStar, level);
}
#endif
#ifndef LUMO_WITHOUT_setLevel
EXPORT int __cdecl setLevel(int level) {
    return sendPattern(kPatternLevels, level);
}
#endif
#ifndef LUMO_WITHOUT_setNewStar
EXPORT int __cdecl setNewStar(int level) {
    return sendPattern(kPatternNewStar, level);
}
#endif
