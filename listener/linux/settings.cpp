#include "settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ini_text.h"

static const char kMachineFile[] = "/etc/lumo/lumolisten.ini";

static std::string userFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/lumo/lumolisten.ini";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/lumo/lumolisten.ini";
    return std::string();
}

static std::string fileText(const std::string& path) {
    if (path.empty())
        return std::string();
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

ListenSettings loadSettings() {
    const std::string texts[] = {fileText(userFile()), fileText(kMachineFile)};
    return settingsFrom(kDevicePaths, [&](const char* key) -> std::optional<std::string> {
        for (const std::string& text : texts)
            if (std::optional<std::string> value = iniValue(text, kSettingsSection, key))
                return value;
        return std::nullopt;
    });
}
