// The exports of lumolink.dll.
#include "lumolink.h"

#include <string.h>

#include "frames.h"
#include "serial.h"

int nLumolink = 0;

extern "C" {

int __cdecl Open(int port) {
    return serialOpen(port);
}

int __cdecl Close(void) {
    serialClose();
    return 1;
}

int __cdecl sendChar(char byte) {
    unsigned char raw = (unsigned char)byte;
    return sendBytes(&raw, 1);
}

// A lost frame is not reported: the next render call sends its own frame anyway. These are
// the calls a run makes many times a second, so they are the ones that bring a port back.
static int sendPatternFrame(CubePattern pattern, int level) {
    CubeFrame frame;
    buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
    sendFrame(frame.bytes, kCubeFrameSize);
    return 1;
}

int __cdecl setStar(int level) {
    return sendPatternFrame(kPatternStar, level);
}
int __cdecl setLevel(int level) {
    return sendPatternFrame(kPatternLevels, level);
}
int __cdecl setNewStar(int level) {
    return sendPatternFrame(kPatternNewStar, level);
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
