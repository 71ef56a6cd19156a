#include "settings.h"

#include <windows.h>

#include <shlobj.h>

#include "text.h"

static const wchar_t kFileName[] = L"lumolisten.ini";
static const std::wstring kSectionWide = wide(kSettingsSection);

// %APPDATA%\lumo\lumolisten.ini, or empty when Windows names no such folder.
static std::wstring userFile() {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring();
    return std::wstring(folder) + L"\\lumo\\" + kFileName;
}

static std::wstring defaultsFile() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring file(path, length);
    size_t slash = file.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return std::wstring();
    return file.substr(0, slash + 1) + kFileName;
}

// The key's text from the first file that has it.
static std::optional<std::string> readKey(const char* key) {
    const std::wstring files[] = {userFile(), defaultsFile()};
    for (const std::wstring& file : files) {
        if (file.empty() || GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        wchar_t text[512];
        static const wchar_t kMissing[] = L"\x1F";
        GetPrivateProfileStringW(kSectionWide.c_str(), wide(key).c_str(), kMissing, text, 512,
                                 file.c_str());
        if (std::wstring(text) != kMissing)
            return utf8(text);
    }
    return std::nullopt;
}

ListenSettings loadSettings() {
    return settingsFrom(kComPorts, readKey);
}

// The profile functions write a file that does not exist in the ANSI code page, which would
// mangle a device's name: the file is made as UTF-16 first, and they keep that.
bool saveSetting(const char* key, const std::string& value) {
    std::wstring file = userFile();
    if (file.empty())
        return false;
    std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), NULL);
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        if (handle != INVALID_HANDLE_VALUE) {
            static const unsigned char kByteOrderMark[] = {0xFF, 0xFE};
            DWORD written = 0;
            WriteFile(handle, kByteOrderMark, sizeof kByteOrderMark, &written, NULL);
            CloseHandle(handle);
        }
    }
    return WritePrivateProfileStringW(kSectionWide.c_str(), wide(key).c_str(), wide(value).c_str(),
                                      file.c_str()) != 0;
}
