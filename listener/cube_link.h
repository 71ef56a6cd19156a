// The cube as the listener drives it: the cube library's port handling and frames, bound on each
// platform its own way (Windows: lumolink.dll beside the program, by name; Linux: the same link
// built in). Every call is made from the cube's thread alone.
#pragma once

#include <string>

#include "frames.h"

class CubeLink {
  public:
    virtual ~CubeLink() = default;
    // Opens the port ("COM3", "/dev/ttyUSB0"), or answers at once while it is held. On failure
    // `failure` says why in the words the user is told ("Cannot open COM9: there is no such
    // port").
    virtual bool open(const std::string& port, std::string* failure) = 0;
    virtual void close() = 0;
    virtual void sendByte(unsigned char byte) = 0;
    virtual void showLevel(CubePattern pattern, int level) = 0;
    virtual void showPlanes(const CubePlanes& planes) = 0;
    // Around the cube thread's life: a platform whose timers are coarse makes them fine here.
    virtual void threadStarting() {}
    virtual void threadEnding() {}
};
