#include "ini_text.h"

#include <vector>

#include "plain_text.h"

static std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The section a "[name]" line opens, if it is one.
static std::optional<std::string> sectionOf(const std::string& line) {
    std::string bare = trimmed(line);
    if (bare.size() < 2 || bare.front() != '[' || bare.back() != ']')
        return std::nullopt;
    return lowerCase(trimmed(bare.substr(1, bare.size() - 2)));
}

// The key of a "key=value" line, in lower case, and where its value starts.
static std::optional<std::string> keyOf(const std::string& line, size_t* valueAt) {
    std::string bare = trimmed(line);
    if (bare.empty() || bare[0] == ';' || bare[0] == '#' || bare[0] == '[')
        return std::nullopt;
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    *valueAt = equals + 1;
    return lowerCase(trimmed(line.substr(0, equals)));
}

std::optional<std::string> iniValue(const std::string& text, const std::string& section,
                                    const std::string& key) {
    std::string wantedSection = lowerCase(section), wantedKey = lowerCase(key);
    bool inSection = false;
    for (const std::string& line : linesOf(text)) {
        if (std::optional<std::string> opened = sectionOf(line)) {
            inSection = *opened == wantedSection;
            continue;
        }
        size_t valueAt = 0;
        std::optional<std::string> found = keyOf(line, &valueAt);
        if (inSection && found && *found == wantedKey)
            return trimmed(line.substr(valueAt));
    }
    return std::nullopt;
}

std::string iniWithValue(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value) {
    std::string wantedSection = lowerCase(section), wantedKey = lowerCase(key);
    std::vector<std::string> lines = linesOf(text);
    std::string setting = key + "=" + value;
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos; // where a missing key goes: after the section's last
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (std::optional<std::string> opened = sectionOf(lines[i])) {
            inSection = *opened == wantedSection;
            if (inSection)
                sectionEnd = i + 1;
            continue;
        }
        size_t valueAt = 0;
        std::optional<std::string> found = keyOf(lines[i], &valueAt);
        if (!inSection)
            continue;
        if (found && *found == wantedKey) {
            lines[i] = setting;
            done = true;
        } else if (!trimmed(lines[i]).empty()) {
            sectionEnd = i + 1;
        }
    }
    if (!done && sectionEnd != std::string::npos)
        lines.insert(lines.begin() + (long)sectionEnd, setting);
    if (!done && sectionEnd == std::string::npos) {
        if (!lines.empty() && !trimmed(lines.back()).empty())
            lines.push_back("");
        lines.push_back("[" + section + "]");
        lines.push_back(setting);
    }
    std::string result;
    for (const std::string& line : lines)
        result += line + "\n";
    return result;
}
