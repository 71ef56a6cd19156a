// The settings file "lumo.ini" beside the plugin: one section per module, named after it.
#include "globals.h"
#include "settings_path.h"

int config_x = 50;
int config_y = 50;
int config_com = 1;

void config_getinifn(winampVisModule* mod, char* buffer) {
    DWORD length = GetModuleFileNameA(mod->hDllInstance, buffer, kSettingsPathSize);
    // 0: the platform could not name the file; the whole buffer: the name was cut short.
    // Neither is a folder to trust.
    if (length == 0 || length >= kSettingsPathSize)
        buffer[0] = '\0';
    settings_path_from_module_path(buffer);
}

// Each key the file lacks keeps the value in memory, which may come from an earlier run.
static void read_setting(const char* section, const char* key, int* value, const char* path) {
    *value = (int)GetPrivateProfileIntA(section, key, *value, path);
}

void config_read(winampVisModule* mod) {
    char path[kSettingsPathSize];
    config_getinifn(mod, path);
    read_setting(mod->description, "Screen_x", &config_x, path);
    read_setting(mod->description, "Screen_y", &config_y, path);
    read_setting(mod->description, "COMPort", &config_com, path);
}

int config_port_of(winampVisModule* mod) {
    int port = config_com;
    // A host that has not said which library the record belongs to gives no folder to look in.
    if (mod->hDllInstance != NULL) {
        char path[kSettingsPathSize];
        config_getinifn(mod, path);
        read_setting(mod->description, "COMPort", &port, path);
    }
    return port;
}

// A refused write (say, a read-only folder) is ignored: the values stay in memory.
static void write_setting(const char* section, const char* key, int value, const char* path) {
    char text[kNumberSize];
    wsprintfA(text, "%d", value);
    WritePrivateProfileStringA(section, key, text, path);
}

// The about box tells the user to edit the file, and they may do so while the module runs:
// the run's port goes back only where the section has no port yet or still holds the one the
// run read at its start (which config_com holds until quit), so an edit is never overwritten.
static bool port_left_alone(const char* section, const char* path) {
    char text[kNumberSize];
    GetPrivateProfileStringA(section, "COMPort", "", text, sizeof text, path);
    if (text[0] == '\0')
        return true;
    int inFile = config_com + 1; // anything but the run's port, should the read fail
    read_setting(section, "COMPort", &inFile, path);
    return inFile == config_com;
}

void config_write(winampVisModule* mod) {
    char path[kSettingsPathSize];
    config_getinifn(mod, path);
    bool writePort = port_left_alone(mod->description, path);
    write_setting(mod->description, "Screen_x", config_x, path);
    write_setting(mod->description, "Screen_y", config_y, path);
    if (writePort)
        write_setting(mod->description, "COMPort", config_com, path);
}
