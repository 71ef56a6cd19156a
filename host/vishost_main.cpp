// vishost: runs a visualisation plugin the way the media player does.
//   vishost.exe [--module 0|1|2] [--wav FILE] [--seconds S] [--auto-ok] [HOST-KIND] PLUGIN.dll
//   vishost.exe --script [HOST-KIND] PLUGIN.dll
// HOST-KIND, any of: --embed-in-host-window --config-before-init --ignore-init-result
// --reuse-frame, to host the plugin as some other programs do (see HostQuirks).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vishost.h"

namespace {

int usage(const char* problem) {
    std::fprintf(stderr,
                 "vishost: %s\n"
                 "usage: vishost [--module N] [--wav FILE] [--seconds S] [--auto-ok] [HOST-KIND] "
                 "PLUGIN.dll\n"
                 "       vishost --script [HOST-KIND] PLUGIN.dll\n"
                 "HOST-KIND: --embed-in-host-window --config-before-init --ignore-init-result\n"
                 "           --reuse-frame\n",
                 problem);
    return kExitBadInput;
}

} // namespace

int main(int argc, char** argv) {
    PlayOptions options;
    bool script = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        char* end = nullptr;
        if (std::strcmp(arg, "--script") == 0) {
            script = true;
        } else if (std::strcmp(arg, "--auto-ok") == 0) {
            options.autoOk = true;
        } else if (std::strcmp(arg, "--embed-in-host-window") == 0) {
            options.quirks.embedInHostWindow = true;
        } else if (std::strcmp(arg, "--config-before-init") == 0) {
            options.quirks.configBeforeInit = true;
        } else if (std::strcmp(arg, "--ignore-init-result") == 0) {
            options.quirks.ignoreInitResult = true;
        } else if (std::strcmp(arg, "--reuse-frame") == 0) {
            options.quirks.reuseFrame = true;
        } else if (std::strcmp(arg, "--module") == 0 && hasValue) {
            options.module = (int)std::strtol(argv[++i], &end, 10);
            if (*end != '\0')
                return usage("--module takes a number");
        } else if (std::strcmp(arg, "--wav") == 0 && hasValue) {
            options.wav = argv[++i];
        } else if (std::strcmp(arg, "--seconds") == 0 && hasValue) {
            options.seconds = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(options.seconds > 0))
                return usage("--seconds takes a positive number");
        } else if (arg[0] == '-' && arg[1] == '-') {
            return usage((std::string("unknown or incomplete option ") + arg).c_str());
        } else if (options.plugin.empty()) {
            options.plugin = arg;
        } else {
            return usage("only one plugin at a time");
        }
    }
    if (options.plugin.empty())
        return usage("no plugin named");
    return script ? runScript(options.plugin, options.quirks) : runPlay(options);
}
