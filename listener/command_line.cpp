#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

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

struct OptionName {
    const char* name;
    bool takesValue;
};

static const OptionName kOptions[] = {
    {"--mode", true},     // a mode for this run
    {"--port", true},     // the cube's port for this run
    {"--device", true},   // a recording device instead of what the machine plays
    {"--seconds", true},  // stop after this long (scripts, tests)
    {"--list", false},    // the ports and recording devices, then stop
    {"--network", false}, // let other programs light the cube for this run
    {"--universe", true}, // the E1.31 universe for this run
};

static const OptionName* optionNamed(const std::string& name) {
    for (const OptionName& option : kOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool parseCommandLine(const std::vector<std::string>& args, PortStyle ports, CommandLine* result,
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
        const OptionName* known = optionNamed(option);
        if (!known) {
            *error = "unknown option " + args[i] +
                     " (the options are --mode, --port, --device, --seconds, --list, --network "
                     "and --universe)";
            return false;
        }
        if (!known->takesValue) {
            if (hasValue) {
                *error = option + " takes no value";
                return false;
            }
        } else if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (option == "--mode") {
            const ListenMode* mode = modeNamed(value);
            if (!mode) {
                *error = "--mode takes " + modeNamesForPeople() + ", not " + value;
                return false;
            }
            parsed.mode = mode->id;
        } else if (option == "--port") {
            std::string port;
            if (!portFromText(ports, value, &port)) {
                *error = std::string("--port takes ") + portExpected(ports) + ", not " + value;
                return false;
            }
            parsed.port = port;
        } else if (option == "--device") {
            if (value.empty()) {
                *error = "--device needs the name of a recording device";
                return false;
            }
            parsed.device = value;
        } else if (option == "--seconds") {
            double seconds = 0;
            if (!parseSeconds(value, &seconds)) {
                *error = "--seconds takes a number of seconds greater than 0, not " + value;
                return false;
            }
            parsed.seconds = seconds;
        } else if (option == "--universe") {
            long universe = 0;
            if (!parseInteger(value, &universe) || universe < 1 || universe > 63999) {
                *error = "--universe takes a number from 1 to 63999, not " + value;
                return false;
            }
            parsed.universe = (int)universe;
        } else if (option == "--list") {
            parsed.list = true;
        } else {
            parsed.network = true;
        }
    }
    *result = parsed;
    return true;
}

ListenSettings forThisRun(ListenSettings settings, const CommandLine& options) {
    if (options.mode)
        settings.mode = *options.mode;
    if (options.port)
        settings.port = *options.port;
    if (options.device)
        settings.device = *options.device;
    if (options.network)
        settings.network = true;
    if (options.universe)
        settings.universe = *options.universe;
    return settings;
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
