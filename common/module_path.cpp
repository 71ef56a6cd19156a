#include "module_path.h"

#include <string.h>

bool path_in_folder(char* path, const char* folder, size_t folderLength, const char* name) {
    bool separated = folderLength > 0 && folder[folderLength - 1] == '\\';
    size_t nameAt = folderLength + (separated ? 0 : 1);
    size_t nameSize = strlen(name) + 1;
    if (folderLength == 0 || nameAt + nameSize > kPathSize) {
        path[0] = '\0';
        return false;
    }
    memmove(path, folder, folderLength);
    if (!separated)
        path[folderLength] = '\\';
    memcpy(path + nameAt, name, nameSize);
    return true;
}

bool path_beside(char* path, const char* name) {
    const char* lastBackslash = strrchr(path, '\\');
    size_t folderLength = lastBackslash ? (size_t)(lastBackslash - path) + 1 : 0;
    return path_in_folder(path, path, folderLength, name);
}
