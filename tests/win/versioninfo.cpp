// versioninfo: prints what Windows Explorer shows under a file's Properties, one "key value" line
// each, for the native tests to compare with the project's version.
//   versioninfo.exe FILE
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

void printString(const char* block, const char* key) {
    char query[128];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\040904B0\\%s", key);
    char* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block, query, reinterpret_cast<void**>(&value), &length) && length > 0)
        std::printf("%s %s\n", key, value);
    else
        std::printf("%s (none)\n", key);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: versioninfo FILE\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    static char block[65536];
    if (size == 0 || size > sizeof block || !GetFileVersionInfoA(argv[1], 0, size, block)) {
        std::printf("no version resource\n");
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block, "\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
        std::printf("fixed %u.%u.%u.%u\n", (unsigned)HIWORD(fixed->dwFileVersionMS),
                    (unsigned)LOWORD(fixed->dwFileVersionMS),
                    (unsigned)HIWORD(fixed->dwFileVersionLS),
                    (unsigned)LOWORD(fixed->dwFileVersionLS));
    for (const char* key : {"FileVersion", "ProductVersion", "ProductName", "FileDescription",
                            "LegalCopyright", "CompanyName"})
        printString(block, key);
    return 0;
}
