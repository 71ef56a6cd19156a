// icacls.exe for the installer's tests: Wine's own does nothing and Wine enforces no ACLs, so
// this one, put in its place in a test's prefix, writes down what it was asked to do and does
// nothing else. Each call appends "call" and then one "arg TEXT" line per argument, as a
// Windows program's C runtime splits its command line, to icacls-calls.txt beside itself.
// It exits with LUMO_ICACLS_EXIT (default 0), to stand for a grant that Windows refuses.
#include <cstdlib>

#include "call_recorder.h"

int main() {
    if (!recordCall(L"icacls-calls.txt"))
        return 1;
    const char* exitCode = std::getenv("LUMO_ICACLS_EXIT");
    return exitCode ? std::atoi(exitCode) : 0;
}
