#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

// ASCII letters alike in either case; the names and options compared are ASCII.
static bool sameIgnoringCase(const std::string& a, const char* b, size_t length) {
    if (a.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (char)(y - 'A' + 'a');
        if (x != y || y == '\0')
            return false;
    }
    return true;
}

const ListenMode* modeNamed(const std::string& name) {
    for (const ListenMode& mode : kListenModes)
        if (name.size() == std::char_traits<char>::length(mode.name) &&
            sameIgnoringCase(name, mode.name, name.size()))
            return &mode;
    return nullptr;
}

const ListenMode& modeOf(CubePattern pattern) {
    for (const ListenMode& mode : kListenModes)
        if (mode.pattern == pattern)
            return mode;
    return kListenModes[1];
}

// A whole decimal integer, nothing before or after it.
static bool parseInteger(const std::string& text, long* value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

static bool parseSeconds(const std::string& text, double* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0 ||
        parsed > 366.0 * 24 * 3600)
        return false;
    *value = parsed;
    return true;
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine* result,
                      std::string* error) {
    CommandLine parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool hasValue = false;
        // "--port=3" as well as "--port 3".
        size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
            hasValue = true;
        }
        if (option != "--mode" && option != "--port" && option != "--device" &&
            option != "--seconds") {
            *error = "unknown option " + args[i] +
                     " (the options are --mode, --port, --device and --seconds)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (option == "--mode") {
            const ListenMode* mode = modeNamed(value);
            if (!mode) {
                *error = "--mode takes Star, Levels or NewStar, not " + value;
                return false;
            }
            parsed.mode = mode->pattern;
        } else if (option == "--port") {
            std::string digits = value;
            if (digits.size() > 3 && sameIgnoringCase(digits, "COM", 3))
                digits = digits.substr(3);
            long port = 0;
            if (!parseInteger(digits, &port) || port < 1 || port > 255) {
                *error = "--port takes a number from 1 to 255, not " + value;
                return false;
            }
            parsed.port = (int)port;
        } else if (option == "--device") {
            if (value.empty()) {
                *error = "--device needs the name of a recording device";
                return false;
            }
            parsed.device = value;
        } else {
            double seconds = 0;
            if (!parseSeconds(value, &seconds)) {
                *error = "--seconds takes a number of seconds greater than 0, not " + value;
                return false;
            }
            parsed.seconds = seconds;
        }
    }
    *result = parsed;
    return true;
}

std::string unknownDeviceMessage(const std::string& name, const std::vector<std::string>& devices) {
    std::string message = "there is no recording device named \"" + name + "\"; ";
    if (devices.empty())
        return message + "this PC has none";
    message += "there are: ";
    for (size_t i = 0; i < devices.size(); ++i)
        message += (i ? ", \"" : "\"") + devices[i] + "\"";
    return message;
}
