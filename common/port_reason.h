// Why a COM port did not open, in the words every lumo program uses: the plugin's boxes and the
// listener's tray and output. Platform-free; the error is the platform's number.
#pragma once

#include <cstddef>

// "Cannot open COM3: there is no such port", "...: another program is using it", "...: it is
// not a serial port the cube can use", else "Cannot open COM3 (error 1234)". Always
// terminated; cut short rather than overrun when `size` is too small.
void port_open_failure_text(char* text, std::size_t size, int port, unsigned long error);

// True when the error means that some program holds the port.
bool port_error_is_in_use(unsigned long error);
