#include "cube_link.h"

#include "serial.h"

int cubeLinkOpen(const char* device) {
    return serialOpen(device);
}

void cubeLinkClose() {
    serialClose();
}

int cubeLinkSendChar(unsigned char byte) {
    return sendBytes(&byte, 1);
}

int cubeLinkShowLevel(CubePattern pattern, int level) {
    CubeFrame frame;
    buildCubeFrame(pattern, frameIndexForLevel(pattern, level), &frame);
    sendFrame(frame.bytes, kCubeFrameSize);
    return 1;
}

int cubeLinkShowPlanes(const CubePlanes& planes) {
    CubeFrame frame;
    buildPlanesFrame(planes, &frame);
    sendFrame(frame.bytes, kCubeFrameSize);
    return 1;
}
