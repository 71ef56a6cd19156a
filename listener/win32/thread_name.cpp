#include "thread_name.h"

#include <windows.h>

#include "text.h"

typedef HRESULT(WINAPI* SetThreadDescriptionEntry)(HANDLE thread, PCWSTR description);

void nameThisThread(const char* name) {
    // Windows 10 1607 brought thread names; an older Windows simply has none.
    static SetThreadDescriptionEntry setDescription =
        reinterpret_cast<SetThreadDescriptionEntry>(reinterpret_cast<void (*)(void)>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (setDescription)
        setDescription(GetCurrentThread(), wide(name).c_str());
}
