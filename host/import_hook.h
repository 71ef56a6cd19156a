// Redirects one imported function of a loaded module to a replacement, by rewriting its entry
// in the module's import address table: how the benchmark times the plugin's own calls from
// outside, and how the tests see and steer what the cube library asks of the platform.
#pragma once

#include <windows.h>

// On success stores the function the module called before and returns true.
bool hookImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                void** original);
