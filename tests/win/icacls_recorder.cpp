// icacls.exe for the installer's tests: Wine's own does nothing and Wine enforces no ACLs, so
// this one, put in its place in a test's prefix, writes down what it was asked to do and does
// nothing else. Each call appends "call" and then one "arg TEXT" line per argument, as a
// Windows program's C runtime splits its command line, to icacls-calls.txt beside itself.
// It exits with LUMO_ICACLS_EXIT (default 0), to stand for a grant that Windows refuses.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

} // namespace

int main() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"icacls-calls.txt";

    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string record = "call\n";
    for (int i = 1; args && i < count; ++i)
        record += "arg " + utf8(args[i]) + "\n";
    LocalFree(args);

    FILE* out = _wfopen(log.c_str(), L"ab");
    if (!out)
        return 1;
    std::fwrite(record.data(), 1, record.size(), out);
    std::fclose(out);
    const char* exitCode = std::getenv("LUMO_ICACLS_EXIT");
    return exitCode ? std::atoi(exitCode) : 0;
}
