// Paths of files that lie in a known folder: the settings beside the plugin or the listener,
// the cube library beside the program that loads it, in the system folders or beside the
// plugin. Platform-free so the native unit tests can try every length.
#pragma once

#include <stddef.h>

enum { kPathSize = 260 }; // the platform's path limit, terminating zero included

// Makes `path` (kPathSize characters; it may hold `folder` itself) the file `name` in the
// first `folderLength` characters of `folder`, a backslash put between them unless the folder
// ends in one. False, with `path` empty, when the folder is empty or the whole does not fit:
// never a name that the platform would look for somewhere else, never a byte past the buffer.
bool path_in_folder(char* path, const char* folder, size_t folderLength, const char* name);

// Turns `path`, which holds a file's full path, into the path of `name` beside that file:
// everything up to and including the last backslash, then `name`. Only the backslash separates
// folders. False, with `path` empty, when it holds no backslash or the whole does not fit.
bool path_beside(char* path, const char* name);
