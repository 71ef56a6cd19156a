// explorer.exe for the installer's tests. The installer hands Lumo Listen to the shell to start,
// so that it runs as the user who is logged on and not as the administrator who installs; Wine
// runs everything alike and has no elevation to show. Put in the shell's place in a test's
// prefix (C:\windows\explorer.exe: Wine's desktop is system32's copy and stays Wine's), this one
// writes down what it was handed, as the stand-in icacls does: "call", then one "arg TEXT" line
// per argument, into explorer-calls.txt beside itself. With LUMO_EXPLORER_OPENS=1 it then opens
// its argument as the shell would, so that a test can see the program run.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

} // namespace

// A windows program, as the shell is: started from the installer, it must not bring a console.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"explorer-calls.txt";

    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string record = "call\n";
    for (int i = 1; args && i < count; ++i)
        record += "arg " + utf8(args[i]) + "\n";

    FILE* out = _wfopen(log.c_str(), L"ab");
    if (out) {
        std::fwrite(record.data(), 1, record.size(), out);
        std::fclose(out);
    }
    const char* opens = std::getenv("LUMO_EXPLORER_OPENS");
    if (opens && std::strcmp(opens, "1") == 0 && args && count == 2)
        ShellExecuteW(nullptr, L"open", args[1], nullptr, nullptr, SW_SHOWNORMAL);
    LocalFree(args);
    return out ? 0 : 1;
}
