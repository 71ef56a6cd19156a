// The cube library with setLevel left out: the plugin must refuse it with its own message and
// open no port. Every other export does what the real library's does, on the same serial code.
#include "frames.h"
#include "serial.h"

static int sendPattern(CubePattern pattern, int level) {
    CubeFrame frame;
    buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
    sendBytes(frame.bytes, kCubeFrameSize);
    return 1;
}

extern "C" {
__declspec(dllexport) int __cdecl Open(int port) {
    return serialOpen(port);
}
__declspec(dllexport) int __cdecl Close(void) {
    serialClose();
    return 1;
}
__declspec(dllexport) int __cdecl sendChar(char byte) {
    unsigned char raw = (unsigned char)byte;
    return sendBytes(&raw, 1);
}
__declspec(dllexport) int __cdecl setStar(int level) {
    return sendPattern(kPatternStar, level);
}
__declspec(dllexport) int __cdecl setNewStar(int level) {
    return sendPattern(kPatternNewStar, level);
}
}
