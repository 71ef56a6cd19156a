// explorer.exe for the installer's tests. The installer hands Lumo Listen to the shell to start,
// so that it runs as the user who is logged on and not as the administrator who installs; Wine
// runs everything alike and has no elevation to show. Put in the shell's place in a test's
// prefix (C:\windows\explorer.exe: Wine's desktop is system32's copy and stays Wine's), this one
// writes down what it was handed, as the stand-in icacls does: "call", then one "arg TEXT" line
// per argument, into explorer-calls.txt beside itself. With LUMO_EXPLORER_OPENS=1 it then opens
// its argument as the shell would, so that a test can see the program run.
#include <cstdlib>
#include <cstring>

#include "call_recorder.h"

// A windows program, as the shell is: started from the installer, it must not bring a console.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bool recorded = recordCall(L"explorer-calls.txt");
    const char* opens = std::getenv("LUMO_EXPLORER_OPENS");
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (opens && std::strcmp(opens, "1") == 0 && args && count == 2)
        ShellExecuteW(nullptr, L"open", args[1], nullptr, nullptr, SW_SHOWNORMAL);
    LocalFree(args);
    return recorded ? 0 : 1;
}
