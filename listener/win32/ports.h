// The machine's COM ports as the installer's port page lists them: USB adapters first, each
// with its device's name where Windows recorded one ("COM3 - USB-SERIAL CH340").
#pragma once

#include <string>
#include <vector>

struct PortEntry {
    int number;
    std::string device; // empty when Windows recorded no name
    bool usb;
};

// The ports there are now, and `current` (a number; 0: none) even when its device is not
// plugged in.
std::vector<PortEntry> listPorts(int current);
std::string portTitle(const PortEntry& port);
