// The machine's serial ports as a person picks the cube's among them: what lumolisten --list
// prints. Read from sysfs and /dev/serial/by-id, as the kernel describes the devices.
#pragma once

#include <string>
#include <vector>

struct SerialPort {
    std::string device;     // "/dev/ttyUSB0"
    std::string name;       // "USB Serial (1a86:7523 QinHeng CH340)"; empty when there is none
    std::string stablePath; // "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", or empty
    bool usb = false;
};

// The ports the sysfs and /dev under `root` show ("/" on a machine, a made-up tree in tests):
// every tty with a device behind it, except serial ports with no UART there. USB adapters
// first, then the rest, each in the order of their numbers.
std::vector<SerialPort> listSerialPorts(const std::string& root = "/");

// "/dev/ttyUSB0 - USB Serial (1a86:7523 QinHeng CH340), also /dev/serial/by-id/usb-...".
std::string serialPortLine(const SerialPort& port);
std::vector<std::string> serialPortLines(const std::string& root = "/");

// The group whose members may open the device, for telling a user who may not; empty when its
// group may not read and write it either, when that group is root, or when it cannot be read.
std::string deviceGroup(const std::string& device);
