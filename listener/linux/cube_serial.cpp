#include "cube_serial.h"

#include <cerrno>

// The cube library's link (device/), which shares its file name with the listener's interface to
// it (cube_link.h, found first on the include path).
#include "../../device/cube_link.h"
#include "port_reason.h"
#include "serial_ports.h"

class SerialCube final : public CubeLink {
  public:
    bool open(const std::string& port, std::string* failure) override {
        if (cubeLinkOpen(port.c_str()))
            return true;
        int reason = errno;
        // Who may use the device, so the words can say how to become one of them.
        std::string group = reason == EACCES ? deviceGroup(port) : std::string();
        char text[512];
        port_path_failure_text(text, sizeof text, port.c_str(), reason, group.c_str());
        *failure = text;
        return false;
    }
    void close() override { cubeLinkClose(); }
    void sendByte(unsigned char byte) override { cubeLinkSendChar(byte); }
    void showLevel(CubePattern pattern, int level) override { cubeLinkShowLevel(pattern, level); }
    void showPlanes(const CubePlanes& planes) override { cubeLinkShowPlanes(planes); }
};

CubeLink* serialCube() {
    static SerialCube cube;
    return &cube;
}
