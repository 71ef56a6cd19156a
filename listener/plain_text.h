// Small steps on the ASCII text of settings files and command lines, which are compared in any
// case and may carry spaces a person typed around a value. Platform-free.
#pragma once

#include <string>

inline std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

// Without the spaces, tabs and carriage returns around it.
inline std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}
