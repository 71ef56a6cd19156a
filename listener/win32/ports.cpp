#include "ports.h"

#include <windows.h>

#include <algorithm>
#include <map>

#include "text.h"

// "COM12" as a number; 0 for anything else.
static int portNumber(const std::wstring& name) {
    if (name.size() < 4 || _wcsnicmp(name.c_str(), L"COM", 3) != 0)
        return 0;
    int number = _wtoi(name.c_str() + 3);
    return number >= 1 && number <= 255 ? number : 0;
}

static std::wstring readString(HKEY key, const wchar_t* subkey, const wchar_t* value) {
    wchar_t text[256];
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    HKEY opened = NULL;
    if (RegOpenKeyExW(key, subkey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return std::wstring();
    LONG result = RegQueryValueExW(opened, value, NULL, &type, (BYTE*)text, &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return std::wstring();
    text[size / sizeof(wchar_t)] = L'\0';
    return text;
}

static std::vector<std::wstring> subkeys(HKEY key, const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY opened = NULL;
    if (RegOpenKeyExW(key, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(opened, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(opened);
    return names;
}

// Windows records each device it has seen under Enum\<enumerator>\<device id>\<instance>: its
// FriendlyName ("USB-SERIAL CH340 (COM3)") and, for a port, "Device Parameters\PortName".
static std::map<int, PortEntry> namedPorts() {
    std::map<int, PortEntry> found;
    const std::wstring tree = L"SYSTEM\\CurrentControlSet\\Enum";
    for (const std::wstring& enumerator : subkeys(HKEY_LOCAL_MACHINE, tree)) {
        for (const std::wstring& id : subkeys(HKEY_LOCAL_MACHINE, tree + L"\\" + enumerator)) {
            std::wstring idPath = tree + L"\\" + enumerator + L"\\" + id;
            for (const std::wstring& instance : subkeys(HKEY_LOCAL_MACHINE, idPath)) {
                std::wstring path = idPath + L"\\" + instance;
                int number = portNumber(readString(
                    HKEY_LOCAL_MACHINE, (path + L"\\Device Parameters").c_str(), L"PortName"));
                if (number == 0)
                    continue;
                std::wstring name = readString(HKEY_LOCAL_MACHINE, path.c_str(), L"FriendlyName");
                std::wstring suffix = L" (COM" + std::to_wstring(number) + L")";
                if (name.size() > suffix.size() &&
                    name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                    name.resize(name.size() - suffix.size());
                bool usb = _wcsicmp(enumerator.c_str(), L"USB") == 0 ||
                           _wcsicmp(enumerator.c_str(), L"FTDIBUS") == 0;
                found[number] = PortEntry{number, utf8(name), usb};
            }
        }
    }
    return found;
}

std::vector<PortEntry> listPorts(int current) {
    std::vector<PortEntry> ports;
    std::map<int, PortEntry> named = namedPorts();
    // The ports there are now: Windows lists them under SERIALCOMM.
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256], data[64];
            DWORD nameLength = 256, dataSize = sizeof data - sizeof(wchar_t), type = 0;
            if (RegEnumValueW(key, i, name, &nameLength, NULL, &type, (BYTE*)data, &dataSize) !=
                ERROR_SUCCESS)
                break;
            if (type != REG_SZ)
                continue;
            data[dataSize / sizeof(wchar_t)] = L'\0';
            int number = portNumber(data);
            if (number == 0)
                continue;
            bool seen = std::any_of(ports.begin(), ports.end(),
                                    [&](const PortEntry& port) { return port.number == number; });
            if (seen)
                continue;
            auto entry = named.find(number);
            ports.push_back(entry != named.end() ? entry->second : PortEntry{number, "", false});
        }
        RegCloseKey(key);
    }
    bool listed = std::any_of(ports.begin(), ports.end(),
                              [&](const PortEntry& port) { return port.number == current; });
    if (!listed && current > 0) {
        auto entry = named.find(current);
        ports.push_back(entry != named.end() ? entry->second : PortEntry{current, "", false});
    }
    std::stable_partition(ports.begin(), ports.end(),
                          [](const PortEntry& port) { return port.usb; });
    return ports;
}

std::string portTitle(const PortEntry& port) {
    std::string title = "COM" + std::to_string(port.number);
    return port.device.empty() ? title : title + " - " + port.device;
}
