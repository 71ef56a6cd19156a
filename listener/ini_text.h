// The text of a settings file in the INI form Windows' profile functions read and write, for the
// platforms that have no such functions: "[section]" lines, "key=value" lines, ';' and '#'
// comments. Section and key names compare in any case, as Windows compares them. Platform-free.
#pragma once

#include <optional>
#include <string>

// The value of `key` in `section`, without the spaces around it; nullopt when there is none.
std::optional<std::string> iniValue(const std::string& text, const std::string& section,
                                    const std::string& key);

// The text with `key` in `section` set to `value`: the first such line replaced in place, else
// added at the end of the section, else a new section at the end. Every other line, comments
// included, stays as it was.
std::string iniWithValue(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value);
