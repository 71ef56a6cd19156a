// Where cubeview's bytes come from: a pseudo-terminal that stands in for the cube's serial
// port, a real serial device, or standard input.
#pragma once

#include <string>

class LineInput {
  public:
    LineInput() = default;
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;
    ~LineInput();

    // A new pty in raw mode with PATH linked to its slave (an existing link is replaced).
    // Returns an error message, empty on success.
    std::string openLinkedPty(const std::string& path);
    // A serial device set to the cube's line: 19200 baud, 8 data bits, no parity, 1 stop bit.
    std::string openDevice(const std::string& path);
    void useStdin();

    int fd() const { return readFd_; }
    // Removes the link (if it still points at our pty) and closes everything.
    void close();

  private:
    int readFd_ = -1;
    int slaveFd_ = -1; // held open so the master never reports a hang-up between writers
    bool ownsReadFd_ = false;
    std::string linkPath_;
    std::string slavePath_;
};
