#include "port_names.h"

#include <cstdlib>

// ASCII letters alike in either case.
static bool startsWithIgnoringCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char a = text[i], b = prefix[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

int comPortNumber(const std::string& port) {
    std::string digits = startsWithIgnoringCase(port, "COM") ? port.substr(3) : port;
    if (digits.empty() || digits.size() > 3)
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    int number = std::atoi(digits.c_str());
    return number >= 1 && number <= 255 ? number : 0;
}

bool portFromText(PortStyle style, const std::string& text, std::string* port) {
    if (style == kComPorts) {
        int number = comPortNumber(text);
        if (number == 0)
            return false;
        *port = "COM" + std::to_string(number);
        return true;
    }
    // A path the system resolves the same from any folder: a relative one would name another
    // device when started as a service. Nothing unprintable, which no device name holds.
    if (text.size() < 2 || text[0] != '/' || text.size() > 4095)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    *port = text;
    return true;
}

const char* portExpected(PortStyle style) {
    return style == kComPorts ? "a number from 1 to 255"
                              : "a serial device's path, such as /dev/ttyUSB0";
}

const char* defaultPort(PortStyle style) {
    return style == kComPorts ? "COM1" : "/dev/ttyUSB0";
}
