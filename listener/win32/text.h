// UTF-8 inside the listener, UTF-16 where Windows wants it.
#pragma once

#include <string>

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& text);
