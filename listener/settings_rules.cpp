#include "settings_rules.h"

#include <cstdlib>

#include "plain_text.h"

// How people write yes and no in a settings file; anything else is neither.
static std::optional<bool> switchValue(const std::string& text) {
    static const char* const kOn[] = {"on", "1", "yes", "true"};
    static const char* const kOff[] = {"off", "0", "no", "false"};
    std::string value = lowerCase(trimmed(text));
    for (const char* on : kOn)
        if (value == on)
            return true;
    for (const char* off : kOff)
        if (value == off)
            return false;
    return std::nullopt;
}

ListenSettings settingsFrom(PortStyle ports,
                            const std::function<std::optional<std::string>(const char*)>& lookup) {
    ListenSettings settings;
    settings.port = defaultPort(ports);
    if (std::optional<std::string> text = lookup(kModeKey)) {
        if (const ListenMode* mode = modeNamed(trimmed(*text)))
            settings.mode = mode->id;
    }
    if (std::optional<std::string> text = lookup(kPortKey)) {
        std::string port;
        if (portFromText(ports, trimmed(*text), &port))
            settings.port = port;
    }
    if (std::optional<std::string> text = lookup(kDeviceKey))
        settings.device = trimmed(*text);
    if (std::optional<std::string> text = lookup(kNetworkKey)) {
        if (std::optional<bool> network = switchValue(*text))
            settings.network = *network;
    }
    if (std::optional<std::string> text = lookup(kUniverseKey)) {
        std::string digits = trimmed(*text);
        bool number = !digits.empty() && digits.size() <= 5 &&
                      digits.find_first_not_of("0123456789") == std::string::npos;
        int universe = number ? std::atoi(digits.c_str()) : 0;
        if (universe >= 1 && universe <= 63999)
            settings.universe = universe;
    }
    return settings;
}

std::string modeSettingText(ListenModeId mode) {
    return modeOf(mode).name;
}

std::string portSettingText(PortStyle ports, const std::string& port) {
    return ports == kComPorts ? std::to_string(comPortNumber(port)) : port;
}

std::string networkSettingText(bool network) {
    return network ? "on" : "off";
}
