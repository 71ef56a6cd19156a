// The settings file's path from the plugin file's path: the folder kept, "lumo.ini" after it,
// and never a byte past the 260-character buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings_path.h"

namespace {

const char kGuard = 0x5A;
const int kGuardBytes = 32;

struct PathBuffer {
    char bytes[kSettingsPathSize + kGuardBytes];

    explicit PathBuffer(const std::string& modulePath) {
        memset(bytes, kGuard, sizeof bytes);
        EXPECT_LT(modulePath.size(), (size_t)kSettingsPathSize)
            << "a module path the platform names";
        memcpy(bytes, modulePath.c_str(), modulePath.size() + 1);
    }
    bool guardIntact() const {
        for (int i = kSettingsPathSize; i < kSettingsPathSize + kGuardBytes; ++i)
            if (bytes[i] != kGuard)
                return false;
        return true;
    }
};

std::string settingsPathFor(const std::string& modulePath, bool* guardIntact) {
    PathBuffer buffer(modulePath);
    settings_path_from_module_path(buffer.bytes);
    *guardIntact = buffer.guardIntact();
    return std::string(buffer.bytes, strnlen(buffer.bytes, kSettingsPathSize));
}

// A folder of exactly `length` characters, its trailing backslash included.
std::string folderOfLength(size_t length) {
    return "C:\\" + std::string(length - 4, 'f') + "\\";
}

struct PathCase {
    const char* name;
    std::string modulePath;
    std::string settingsPath;
};

TEST(SettingsPath, KeepsTheFolderAndNamesTheSettingsFile) {
    const PathCase cases[] = {
        {"plugin folder", "D:\\Player\\Plugins\\lumo.dll", "D:\\Player\\Plugins\\lumo.ini"},
        {"any file name is replaced", "C:\\x\\whatever.name.dll", "C:\\x\\lumo.ini"},
        {"root folder", "C:\\lumo.dll", "C:\\lumo.ini"},
        {"no backslash: the bare name", "lumo.dll", "lumo.ini"},
        {"forward slashes are ordinary characters", "D:/Player/Plugins/lumo.dll", "lumo.ini"},
        {"only backslashes separate", "D:\\Player/Plugins/lumo.dll", "D:\\lumo.ini"},
        {"unnamed plugin file: the bare name", "", "lumo.ini"},
        {"path ending in a backslash", "D:\\Plugins\\", "D:\\Plugins\\lumo.ini"},
    };
    for (const PathCase& c : cases) {
        bool guardIntact = false;
        EXPECT_EQ(settingsPathFor(c.modulePath, &guardIntact), c.settingsPath) << c.name;
        EXPECT_TRUE(guardIntact) << c.name;
    }
}

TEST(SettingsPath, NeverWritesPastTheBufferAndFallsBackWhenTheFolderIsTooLong) {
    // 251 characters of folder + "lumo.ini" + the zero fill the 260 exactly.
    const size_t exactFit = kSettingsPathSize - sizeof "lumo.ini";
    ASSERT_EQ(exactFit, 251u);
    const PathCase cases[] = {
        {"folder that exactly fits", folderOfLength(exactFit) + "x.dll",
         folderOfLength(exactFit) + "lumo.ini"},
        {"folder one character too long", folderOfLength(exactFit + 1) + "x.dll", "lumo.ini"},
        {"longest module path, short name", folderOfLength(exactFit) + std::string(8, 'n'),
         folderOfLength(exactFit) + "lumo.ini"},
        {"longest module path, long folder", folderOfLength(258) + "x", "lumo.ini"},
        {"longest module path without backslash", std::string(259, 'n'), "lumo.ini"},
    };
    for (const PathCase& c : cases) {
        bool guardIntact = false;
        std::string path = settingsPathFor(c.modulePath, &guardIntact);
        EXPECT_EQ(path, c.settingsPath) << c.name;
        EXPECT_LT(path.size(), (size_t)kSettingsPathSize) << c.name;
        EXPECT_TRUE(guardIntact) << c.name << ": wrote past the 260-character buffer";
    }
}

// The cube library's places: a folder the platform names (GetSystemDirectoryA gives no trailing
// backslash but for a root) and lumolink.dll in it. A place that cannot be named whole is
// skipped, never shortened into a bare name the platform would search for.
TEST(ModulePath, PutsTheFileInTheFolderOrRefusesIt) {
    const std::string exactFit(kPathSize - sizeof "\\lumolink.dll", 'f'); // with the backslash
    const struct {
        const char* name;
        std::string folder, path;
        bool made;
    } cases[] = {
        {"system folder", "C:\\Windows\\system32", "C:\\Windows\\system32\\lumolink.dll", true},
        {"root folder", "C:\\", "C:\\lumolink.dll", true},
        {"no folder", "", "", false},
        {"folder that exactly fits", exactFit, exactFit + "\\lumolink.dll", true},
        {"folder one character too long", exactFit + "f", "", false},
    };
    for (const auto& c : cases) {
        PathBuffer buffer(c.folder);
        EXPECT_EQ(path_in_folder(buffer.bytes, buffer.bytes, c.folder.size(), "lumolink.dll"),
                  c.made)
            << c.name;
        EXPECT_EQ(std::string(buffer.bytes, strnlen(buffer.bytes, kPathSize)), c.path) << c.name;
        EXPECT_TRUE(buffer.guardIntact()) << c.name << ": wrote past the buffer";
    }
}

} // namespace
