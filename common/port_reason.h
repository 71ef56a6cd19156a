// Why a port did not open, in the words every lumo program uses: the plugin's boxes and the
// listener's tray and output. Platform-free; the error is the platform's number: Windows' last
// error for a COM port, errno for a device by path.
#pragma once

#include <cstddef>

// "Cannot open COM3: there is no such port", "...: another program is using it", "...: it is
// not a serial port the cube can use", else "Cannot open COM3 (error 1234)". Always
// terminated; cut short rather than overrun when `size` is too small.
void port_open_failure_text(char* text, std::size_t size, int port, unsigned long error);

// True when the error means that some program holds the port.
bool port_error_is_in_use(unsigned long error);

// A device by path, from the errno the cube's link leaves (serial.h): "Cannot open /dev/ttyUSB0:
// there is no such port", "...: another program is using it", "...: it is not a serial port the
// cube can use"; for EACCES who may use it: "...: only the group dialout may use it; add yourself
// with sudo usermod -aG dialout $USER, then log in again" with the device's `group`, or "...: you
// may not open it" when `group` is null or empty; else "Cannot open /dev/ttyUSB0 (error 5:
// Input/output error)". Always terminated; cut short rather than overrun.
void port_path_failure_text(char* text, std::size_t size, const char* path, int error,
                            const char* group);

// True when the errno means that some program holds the port.
bool port_errno_is_in_use(int error);
