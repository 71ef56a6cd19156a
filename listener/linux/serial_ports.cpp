#include "serial_ports.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

struct KnownAdapter {
    unsigned long vendor;
    unsigned long product; // 0: any of the vendor's
    const char* maker;     // and chip, where the product tells it
};

// The adapters and boards cube builders use, by the ids their chips report. A device that is not
// here is named by the maker it reports itself. The first row that matches wins.
static const KnownAdapter kKnownAdapters[] = {
    {0x1a86, 0x7523, "QinHeng CH340"},       // the cheapest adapters, most clone boards
    {0x1a86, 0x5523, "QinHeng CH341"},       // the CH341 in its serial mode
    {0x1a86, 0x55d4, "QinHeng CH9102"},      // newer ESP32 boards
    {0x1a86, 0x55d3, "QinHeng CH343"},       // fast CH34x adapters
    {0x1a86, 0, "QinHeng"},                  // other CH34x chips
    {0x0403, 0x6001, "FTDI FT232R"},         // the classic FTDI adapter and cable
    {0x0403, 0x6015, "FTDI FT-X"},           // FT231X, FT230X
    {0x0403, 0x6014, "FTDI FT232H"},         // high-speed single port
    {0x0403, 0x6010, "FTDI FT2232"},         // dual port
    {0x0403, 0, "FTDI"},                     // other FTDI chips
    {0x10c4, 0xea60, "Silicon Labs CP210x"}, // CP2102, CP2104 and the like
    {0x10c4, 0, "Silicon Labs"},             // other Silicon Labs bridges
    {0x067b, 0x2303, "Prolific PL2303"},     // old adapters and cables
    {0x067b, 0, "Prolific"},                 // newer PL2303 variants
    {0x2341, 0, "Arduino"},                  // arduino.cc boards with their own USB chip
    {0x2a03, 0, "Arduino"},                  // arduino.org boards
    {0x16c0, 0x0483, "PJRC Teensy"},         // a Teensy's USB serial
    {0x2e8a, 0, "Raspberry Pi"},             // Pico boards (RP2040)
    {0x303a, 0, "Espressif"},                // ESP32-S2, -S3, -C3 with their own USB
};

static const KnownAdapter* knownAdapter(unsigned long vendor, unsigned long product) {
    for (const KnownAdapter& adapter : kKnownAdapters)
        if (adapter.vendor == vendor && (adapter.product == 0 || adapter.product == product))
            return &adapter;
    return nullptr;
}

// A sysfs attribute's first line; empty when there is none.
static std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// "USB Serial (1a86:7523 QinHeng CH340)" from the USB device above the tty: for a usb-serial
// adapter two levels up (port, interface, device), for a CDC ACM board one. Empty when there
// is no USB device there.
static std::string usbName(const fs::path& device) {
    fs::path at = device;
    for (int level = 0; level < 3 && !at.empty(); ++level, at = at.parent_path()) {
        std::string vendor = attribute(at / "idVendor");
        std::string product = attribute(at / "idProduct");
        if (vendor.empty() || product.empty())
            continue;
        const KnownAdapter* known = knownAdapter(std::strtoul(vendor.c_str(), nullptr, 16),
                                                 std::strtoul(product.c_str(), nullptr, 16));
        std::string maker = known ? known->maker : attribute(at / "manufacturer");
        std::string title = attribute(at / "product");
        return (title.empty() ? "USB serial port" : title) + " (" + vendor + ":" + product +
               (maker.empty() ? "" : " " + maker) + ")";
    }
    return "";
}

// tty name -> its stable path, from the links udev makes in /dev/serial/by-id.
static std::map<std::string, std::string> stablePaths(const fs::path& root) {
    std::map<std::string, std::string> paths;
    std::error_code error;
    std::vector<fs::path> links;
    for (fs::directory_iterator at(root / "dev/serial/by-id", error), end; !error && at != end;
         at.increment(error))
        links.push_back(at->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        fs::path target = fs::read_symlink(link, error);
        if (!error)
            paths.emplace(target.filename().string(),
                          "/dev/serial/by-id/" + link.filename().string());
    }
    return paths;
}

// ttyUSB2 before ttyUSB10: by the name's letters, then by its number.
static bool numberedBefore(const std::string& a, const std::string& b) {
    size_t aDigits = a.find_last_not_of("0123456789") + 1;
    size_t bDigits = b.find_last_not_of("0123456789") + 1;
    int order = a.compare(0, aDigits, b, 0, bDigits);
    if (order != 0)
        return order < 0;
    return std::strtoul(a.c_str() + aDigits, nullptr, 10) <
           std::strtoul(b.c_str() + bDigits, nullptr, 10);
}

std::vector<SerialPort> listSerialPorts(const std::string& root) {
    fs::path ttys = fs::path(root) / "sys/class/tty";
    std::map<std::string, std::string> stable = stablePaths(root);
    std::vector<SerialPort> ports;
    std::error_code error;
    for (fs::directory_iterator at(ttys, error), end; !error && at != end; at.increment(error)) {
        std::string tty = at->path().filename().string();
        // Consoles and pseudo-terminals have no device; serial ports the kernel reserved
        // without finding a UART (most ttyS) have type 0 and fail to open.
        std::error_code missing;
        fs::path device = fs::canonical(at->path() / "device", missing);
        if (missing || attribute(at->path() / "type") == "0")
            continue;
        SerialPort port;
        port.device = "/dev/" + tty;
        port.name = usbName(device);
        port.usb = !port.name.empty();
        auto found = stable.find(tty);
        if (found != stable.end())
            port.stablePath = found->second;
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPort& a, const SerialPort& b) {
        return a.usb != b.usb ? a.usb : numberedBefore(a.device, b.device);
    });
    return ports;
}

std::string serialPortLine(const SerialPort& port) {
    return port.device + (port.name.empty() ? "" : " - " + port.name) +
           (port.stablePath.empty() ? "" : ", also " + port.stablePath);
}

std::vector<std::string> serialPortLines(const std::string& root) {
    std::vector<std::string> lines;
    for (const SerialPort& port : listSerialPorts(root))
        lines.push_back(serialPortLine(port));
    return lines;
}

std::string deviceGroup(const std::string& device) {
    struct stat info;
    const mode_t groupMayUse = S_IRGRP | S_IWGRP;
    if (stat(device.c_str(), &info) != 0 || (info.st_mode & groupMayUse) != groupMayUse ||
        info.st_gid == 0)
        return "";
    group entry;
    group* found = nullptr;
    char buffer[4096];
    if (getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return "";
    return found->gr_name;
}
