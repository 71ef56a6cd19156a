// renderbench [--calls N] [--leak-calls N] [--initquits N] [--sendchars N] [--modules 012]
//             PLUGIN.dll
// Times the plugin's render calls back to back through the stand-in host, with the real cube
// library writing to COM1, and splits each call into its parts by hooking the plugin's own
// imports: the device entry points it binds (the frame write) and GetDC/ReleaseDC (the copy to
// the window); the rest is the level and meter work. Also times sendChar and a whole init +
// quit, and looks for handle, GDI and memory growth over many calls. Prints one "bench ..."
// line of key=value pairs per measurement, for scripts/bench to tabulate.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio.h"
#include "import_hook.h"
#include "resource_slots.h"
#include "vis_host.h"

namespace {

long long ticksPerSecond;
long long now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}
double micros(long long ticks) {
    return 1e6 * double(ticks) / double(ticksPerSecond);
}

// Timestamps the hooks leave for the call being measured.
long long writeStart, writeEnd, copyStart, copyEnd;

typedef int(__cdecl* PatternFunction)(int level);
PatternFunction realPattern[3];
int __cdecl timedSetStar(int level) {
    writeStart = now();
    int result = realPattern[0](level);
    writeEnd = now();
    return result;
}
int __cdecl timedSetLevel(int level) {
    writeStart = now();
    int result = realPattern[1](level);
    writeEnd = now();
    return result;
}
int __cdecl timedSetNewStar(int level) {
    writeStart = now();
    int result = realPattern[2](level);
    writeEnd = now();
    return result;
}

typedef FARPROC(WINAPI* GetProcAddressFunction)(HMODULE, LPCSTR);
GetProcAddressFunction realGetProcAddress;
FARPROC WINAPI timedGetProcAddress(HMODULE module, LPCSTR name) {
    static const char* const names[3] = {"setStar", "setLevel", "setNewStar"};
    static const PatternFunction timed[3] = {timedSetStar, timedSetLevel, timedSetNewStar};
    FARPROC real = realGetProcAddress(module, name);
    if (real == NULL || ((ULONG_PTR)name >> 16) == 0) // missing, or looked up by ordinal
        return real;
    for (int i = 0; i < 3; ++i) {
        if (strcmp(name, names[i]) == 0) {
            realPattern[i] = reinterpret_cast<PatternFunction>(reinterpret_cast<void*>(real));
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(timed[i]));
        }
    }
    return real;
}

typedef HDC(WINAPI* GetDCFunction)(HWND);
typedef int(WINAPI* ReleaseDCFunction)(HWND, HDC);
GetDCFunction realGetDC;
ReleaseDCFunction realReleaseDC;
HDC WINAPI timedGetDC(HWND window) {
    copyStart = now();
    return realGetDC(window);
}
int WINAPI timedReleaseDC(HWND window, HDC context) {
    int result = realReleaseDC(window, context);
    copyEnd = now();
    return result;
}

bool hookPlugin(HMODULE plugin) {
    return hookImport(plugin, "KERNEL32.dll", "GetProcAddress", (void*)timedGetProcAddress,
                      (void**)&realGetProcAddress) &&
           hookImport(plugin, "USER32.dll", "GetDC", (void*)timedGetDC, (void**)&realGetDC) &&
           hookImport(plugin, "USER32.dll", "ReleaseDC", (void*)timedReleaseDC,
                      (void**)&realReleaseDC);
}

struct Spread {
    double median, p99, max;
};
Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return {values[n / 2], values[std::min(n - 1, n * 99 / 100)], values[n - 1]};
}
std::string describe(const char* name, const std::vector<double>& values) {
    Spread s = spread(values);
    char text[160];
    snprintf(text, sizeof text, " %s_median_us=%.2f %s_p99_us=%.2f %s_max_us=%.2f", name, s.median,
             name, s.p99, name, s.max);
    return text;
}

unsigned long long privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters;
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters, sizeof counters);
    // The commit charge: Wine leaves PrivateUsage at 0 but keeps PagefileUsage, which on
    // Windows is the same private commit.
    return counters.PagefileUsage;
}

struct Run {
    VisHost& host;
    winampVisModule* mod;
    const Audio& audio;
    size_t index = 0;

    void feed() {
        // The signal loops, so long runs keep sweeping the levels rather than going silent.
        size_t position = renderPosition(index++, mod->delayMs, audio.sampleRate) %
                          (audio.frames() - kBlockSamples);
        for (int channel = 0; channel < 2; ++channel)
            fillWaveformBlock(audio, position, channel, mod->waveformData[channel]);
    }
    // Renders `calls` times; when `times` is given, records the parts of every call.
    void render(long calls, std::vector<double>* times = nullptr) {
        for (long i = 0; i < calls; ++i) {
            feed();
            writeStart = writeEnd = copyStart = copyEnd = 0;
            long long start = now();
            mod->Render(mod);
            long long end = now();
            if (times) {
                times[0].push_back(micros(end - start));
                times[1].push_back(micros(end - start - (writeEnd - writeStart)));
                times[2].push_back(
                    micros(end - start - (writeEnd - writeStart) - (copyEnd - copyStart)));
                times[3].push_back(micros(copyEnd - copyStart));
                times[4].push_back(micros(writeEnd - writeStart));
            }
            if (i % 64 == 63)
                host.pumpMessages(); // as the player does between render calls
        }
    }
};

int fail(const std::string& message) {
    fprintf(stderr, "renderbench: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    long calls = 10000, leakCalls = 100000, initQuits = 5, sendChars = 1000;
    std::string modules = "012", plugin;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--calls" && i + 1 < argc)
            calls = atol(argv[++i]);
        else if (arg == "--leak-calls" && i + 1 < argc)
            leakCalls = atol(argv[++i]);
        else if (arg == "--initquits" && i + 1 < argc)
            initQuits = atol(argv[++i]);
        else if (arg == "--sendchars" && i + 1 < argc)
            sendChars = atol(argv[++i]);
        else if (arg == "--modules" && i + 1 < argc)
            modules = argv[++i];
        else
            plugin = arg;
    }
    if (plugin.empty() || calls < 0 || leakCalls < 0 || initQuits < 0 || sendChars < 0)
        return fail("usage: renderbench [--calls N] [--leak-calls N] [--initquits N] "
                    "[--sendchars N] [--modules 012] PLUGIN.dll");
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerSecond = frequency.QuadPart;

    VisHost host;
    host.setAutoAnswer(true);
    std::string error;
    if (!host.load(plugin, &error))
        return fail(error);
    if (!hookPlugin(host.library()))
        return fail("cannot hook the plugin's imports");
    Audio audio = makeTestSignal(44100, 30.0);

    for (char digit : modules) {
        winampVisModule* mod = host.module(digit - '0');
        if (mod == nullptr)
            return fail(std::string("no module ") + digit);
        const char* name = mod->description;

        // A whole start and stop, boxes answered at once.
        std::vector<double> cycles;
        for (long i = 0; i < initQuits; ++i) {
            long long start = now();
            if (host.init(mod) != 0)
                return fail(std::string(name) + ": init failed");
            host.quit(mod);
            cycles.push_back(micros(now() - start) / 1000.0);
        }
        if (!cycles.empty())
            printf(
                "bench module=%s initquit_runs=%zu initquit_median_ms=%.2f initquit_max_ms=%.2f\n",
                name, cycles.size(), spread(cycles).median, spread(cycles).max);

        if (host.init(mod) != 0)
            return fail(std::string(name) + ": init failed");
        Run run{host, mod, audio};
        std::vector<double> times[5];
        if (calls > 0) {
            run.render(200); // warm up
            run.render(calls, times);
            printf("bench module=%s calls=%ld%s%s%s%s%s\n", name, calls,
                   describe("total", times[0]).c_str(), describe("own", times[1]).c_str(),
                   describe("level", times[2]).c_str(), describe("copy", times[3]).c_str(),
                   describe("write", times[4]).c_str());
        }

        typedef int(__cdecl * SendCharFunction)(char);
        SendCharFunction sendChar = reinterpret_cast<SendCharFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("lumolink.dll"), "sendChar")));
        std::vector<double> sends;
        for (long i = 0; i < sendChars && sendChar; ++i) {
            long long start = now();
            sendChar(0x4C);
            sends.push_back(micros(now() - start));
        }
        if (!sends.empty())
            printf("bench module=%s sendchar_calls=%zu%s\n", name, sends.size(),
                   describe("sendchar", sends).c_str());

        if (leakCalls > 0) {
            run.render(1000); // caches and heaps settle before the first look
            host.pumpMessages();
            unsigned long long events = nextEventSlot();
            unsigned gdi = nextGdiSlot();
            unsigned long long memory = privateBytes();
            run.render(leakCalls);
            host.pumpMessages();
            printf("bench module=%s leak_calls=%ld event_slot_before=%llu event_slot_after=%llu "
                   "gdi_slot_before=%u gdi_slot_after=%u private_before=%.0f "
                   "private_after=%.0f\n",
                   name, leakCalls, events, nextEventSlot(), gdi, nextGdiSlot(), (double)memory,
                   (double)privateBytes());
        }
        host.quit(mod);
        printf("bench module=%s renders=%zu sendchars=%zu initquits=%zu\n", name, run.index,
               sends.size(), cycles.size() + 1);
        fflush(stdout);
    }
    return 0;
}
