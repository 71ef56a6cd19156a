// What the stand-ins for Windows' own programs (icacls.exe, explorer.exe) share in the
// installer's tests: each writes down how it was called, "call" and then one "arg TEXT" line per
// argument as a Windows program's C runtime splits its command line, into a log beside itself.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

inline std::string recordedUtf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

// Appends this call to `logName` beside the program; false when the log cannot be written.
inline bool recordCall(const wchar_t* logName) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + logName;

    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string record = "call\n";
    for (int i = 1; args && i < count; ++i)
        record += "arg " + recordedUtf8(args[i]) + "\n";
    LocalFree(args);

    FILE* out = _wfopen(log.c_str(), L"ab");
    if (!out)
        return false;
    std::fwrite(record.data(), 1, record.size(), out);
    std::fclose(out);
    return true;
}
