// Redirects one imported function of a loaded module to a replacement, by rewriting its entry
// in the module's import address table. The benchmark uses it to time the plugin's own calls
// from outside, without a timing build of the plugin.
#pragma once

#include <windows.h>

// On success stores the function the module called before and returns true.
bool hookImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                void** original);
