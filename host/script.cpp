// Scripted mode: one command per line on stdin. Each reply is zero or more lines
// "event ..." (what happened meanwhile: requests, boxes, forwarded keys, the frame made, quit
// messages; see describeEvent) and then one line "ok", "ok VALUE" or "error MESSAGE".
// Message boxes are always answered (OK) and reported as events. After every command the
// host dispatches the waiting window messages, as the player's message loop would.
//
// The host kind on the command line changes these commands, as some other hosts behave:
//   --embed-in-host-window  the embedding function returns the host window (moved to the
//                           rectangle asked for) and leaves the frame field alone; the frame
//                           event's title is then the host window's, and frame, move, resize,
//                           pixels and the rest work on the host window as the frame
//   --config-before-init    init calls the module's Config first: the about box comes first
//   --ignore-init-result    init makes the module the running one even when it failed, so
//                           render and quit go to it after a failed start
//   --reuse-frame           the embedding function hands out the frame it made before while
//                           that still exists, as hosts with one visualisation frame do
//
//   header              ok version=0x101 desc="..." same=1   (same: a second call gave the
//                       same header)
//   module N            ok desc="..." latency=L delay=D spectrum=S waveform=W config=1
//                       init=1 quit=1 render=N same=1; config/init/quit: 1 when the pointer
//                       equals module 0's, render: the lowest index whose record has the same
//                       Render (N itself when no earlier module shares it), same:
//                       getModule(N) twice gave one record. "ok null" for no record.
//   embed 0|1           request 505 answers the embedding function (1, the default) or 0
//   video N             request 501 answers N (default 0)
//   config N            calls module N's Config
//   init N              calls module N's Init: ok RESULT; on success N is the running module
//   wave CH PATTERN     channel CH (0 or 1) of the waveform handed to every render call:
//                       const V | alt A B | step A B AT | hex DIGITS (576 bytes, 1152 digits)
//   render [COUNT [MS]] COUNT (default 1) render calls of the running module, back to back or
//                       one every MS milliseconds (messages dispatched in between, as the
//                       player's loop does): ok LAST-RESULT
//   timing              ok calls=N slowest=US total=US span=US: the render calls since the
//                       last timing (or the start), the longest one of them, the time spent
//                       inside them all told, and the time from the start of the first to the
//                       end of the last, in microseconds
//   portfails ERROR     loads the cube library (lumolink.dll, as the plugin will find it) and
//                       makes its opens of a COM port fail with the platform error ERROR, as
//                       when another program holds the port; 0 lets them through again
//   portrefuses MS      the same, but the library's ports open and then refuse the line
//                       settings, and closing one takes MS milliseconds (a slow driver)
//   loaded NAME         ok 1 PATH when a module of that name is loaded in the host, else ok 0
//   quit [N]            calls the running module's Quit (or module N's)
//   clientsize          ok W H: the plugin window's client size
//   pixels X0 Y0 X1 Y1  ok ROW ROW ...: the plugin window's pixels from its DC, X1 and Y1
//                       exclusive, one word per row: '#' black, '.' white, '?' other
//   paint               invalidates the plugin window and has it painted now
//   command ID HIGH     WM_COMMAND (ID | HIGH << 16) sent to the plugin window: ok RESULT
//   key down|up VK      WM_KEYDOWN/WM_KEYUP sent to the plugin window: ok RESULT LPARAM
//                       (the long parameter sent, to compare with the forwarded key event)
//   message MSG W L     any message MSG with word and long parameters W, L sent to the plugin
//                       window: ok RESULT
//   move X Y            moves the frame's top-left corner to X, Y on the screen
//   resize W H          makes the frame's client area W x H; the frame then makes the plugin
//                       window fill it from the top left (larger than its buffer, say)
//   frame               ok 1 LEFT TOP RIGHT BOTTOM title="..." while a frame window exists,
//                       else ok 0; the newest frame that still exists, so after a second
//                       embedding's frame is destroyed, the earlier one again
//   hostwindow          ok ALIVE CHILDREN: 1 while the host window exists (else "ok 0 0"),
//                       and how many child windows it has (a plugin window embedded there)
//   screen              ok W H SUM: the size of the screen and a checksum (FNV-1a) of all its
//                       pixels, read back through the screen's DC, to show that nothing drew
//                       on it between two calls
//   resources           ok handle=H gdi=G: the value of a fresh event handle and the low 16
//                       bits of a fresh GDI object, both released again. Wine hands out the
//                       lowest free slot, so both stay the same from one call to the next
//                       unless handles or GDI objects (device contexts included) were left
//                       behind in between; GetProcessHandleCount answers 0 under Wine.
//   leak handle|gdi|dc  leaves one event, brush or plugin-window DC behind on purpose, to
//                       show that "resources" sees a leak
//   exit                ok, then the program ends (so does the end of input)
//
// The frame puts the plugin's new window at its client area's top-left corner and keeps it
// there; a frame smaller than the window (NewStar's 256 x 32 frame includes its caption) hides
// part of it, so read pixels after a resize that shows all of it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "audio.h"
#include "port_hooks.h"
#include "resource_slots.h"
#include "vis_host.h"
#include "vishost.h"
#include "wave_pattern.h"

namespace {

bool toLong(const std::string& word, long* value) {
    if (word.empty())
        return false;
    char* end = nullptr;
    *value = std::strtol(word.c_str(), &end, 0);
    return *end == '\0';
}

class Script {
  public:
    explicit Script(VisHost& host) : host_(host) {
        std::memset(waveform_, 0, sizeof waveform_);
        host_.setAutoAnswer(true);
    }

    // Runs one line; false when the script is over.
    bool run(const std::string& line) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.empty())
            return true;
        std::string value, error;
        const bool ok = dispatch(words, &value, &error);
        host_.pumpMessages();
        for (const HostEvent& event : host_.takeEvents())
            std::printf("event %s\n", describeEvent(event).c_str());
        if (ok)
            std::printf(value.empty() ? "ok\n" : "ok %s\n", value.c_str());
        else
            std::printf("error %s\n", error.c_str());
        std::fflush(stdout);
        return !(ok && words[0] == "exit");
    }

  private:
    bool dispatch(const std::vector<std::string>& w, std::string* value, std::string* error) {
        const std::string& command = w[0];
        const size_t n = w.size();
        long a = 0, b = 0, c = 0, d = 0;
        if (command == "exit" && n == 1)
            return true;
        if (command == "header" && n == 1)
            return header(value);
        if (command == "module" && n == 2 && toLong(w[1], &a))
            return module((int)a, value);
        if (command == "embed" && n == 2 && toLong(w[1], &a)) {
            host_.setEmbedAvailable(a != 0);
            return true;
        }
        if (command == "video" && n == 2 && toLong(w[1], &a)) {
            host_.setVideoAnswer((LRESULT)a);
            return true;
        }
        if ((command == "config" || command == "init") && n == 2 && toLong(w[1], &a)) {
            winampVisModule* mod = host_.module((int)a);
            if (mod == nullptr)
                return fail(error, "no module " + w[1]);
            if (command == "config") {
                host_.config(mod);
                return true;
            }
            const int result = host_.init(mod);
            if (result == 0 || host_.quirks().ignoreInitResult)
                running_ = mod;
            *value = std::to_string(result);
            return true;
        }
        if (command == "wave" && n >= 3 && toLong(w[1], &a) && (a == 0 || a == 1))
            return parseWavePattern(std::vector<std::string>(w.begin() + 2, w.end()), waveform_[a],
                                    error);
        if (command == "render" && (n == 1 || (n >= 2 && n <= 3 && toLong(w[1], &a) && a > 0)) &&
            (n < 3 || (toLong(w[2], &b) && b >= 0)))
            return render(n == 1 ? 1 : (int)a, n == 3 ? (DWORD)b : 0, value, error);
        if (command == "timing" && n == 1)
            return timing(value);
        if (command == "portfails" && n == 2 && toLong(w[1], &a))
            return portFails((DWORD)a, error);
        if (command == "portrefuses" && n == 2 && toLong(w[1], &a))
            return portRefuses((DWORD)a, error);
        if (command == "loaded" && n == 2)
            return loaded(w[1], value);
        if (command == "quit" && n <= 2)
            return quit(w, error);
        if (command == "clientsize" && n == 1)
            return clientSize(value, error);
        if (command == "pixels" && n == 5 && toLong(w[1], &a) && toLong(w[2], &b) &&
            toLong(w[3], &c) && toLong(w[4], &d))
            return pixels((int)a, (int)b, (int)c, (int)d, value, error);
        if (command == "paint" && n == 1)
            return paint(error);
        if (command == "command" && n == 3 && toLong(w[1], &a) && toLong(w[2], &b))
            return sendToPlugin(WM_COMMAND, MAKEWPARAM((WORD)a, (WORD)b), 0, value, error);
        if (command == "message" && n == 4 && toLong(w[1], &a) && toLong(w[2], &b) &&
            toLong(w[3], &c))
            return sendToPlugin((UINT)a, (WPARAM)b, (LPARAM)c, value, error);
        if (command == "key" && n == 3 && (w[1] == "down" || w[1] == "up") && toLong(w[2], &a))
            return key(w[1] == "down", (UINT)a, value, error);
        if ((command == "move" || command == "resize") && n == 3 && toLong(w[1], &a) &&
            toLong(w[2], &b))
            return placeFrame(command == "move", (int)a, (int)b, error);
        if (command == "frame" && n == 1)
            return frame(value);
        if (command == "hostwindow" && n == 1)
            return hostWindow(value);
        if (command == "screen" && n == 1)
            return screen(value, error);
        if (command == "resources" && n == 1)
            return resources(value);
        if (command == "leak" && n == 2)
            return leak(w[1], error);
        return fail(error, "unknown command or wrong arguments: " + w[0]);
    }

    static bool fail(std::string* error, const std::string& message) {
        *error = message;
        return false;
    }

    static std::string quoted(const char* text) {
        return text == nullptr ? std::string("null") : quoteText(text);
    }

    bool header(std::string* value) {
        winampVisHeader* header = host_.header();
        char version[16];
        std::snprintf(version, sizeof version, "0x%X", (unsigned)header->version);
        winampVisGetHeaderType getHeader =
            (winampVisGetHeaderType)(void*)GetProcAddress(host_.library(), "winampVisGetHeader");
        *value = std::string("version=") + version + " desc=" + quoted(header->description) +
                 " same=" + (getHeader() == header ? "1" : "0");
        return true;
    }

    bool module(int index, std::string* value) {
        winampVisModule* mod = host_.module(index);
        if (mod == nullptr) {
            *value = "null";
            return true;
        }
        winampVisModule* first = host_.module(0);
        std::ostringstream out;
        out << "desc=" << quoted(mod->description) << " latency=" << mod->latencyMs
            << " delay=" << mod->delayMs << " spectrum=" << mod->spectrumNch
            << " waveform=" << mod->waveformNch << " config=" << (mod->Config == first->Config)
            << " init=" << (mod->Init == first->Init) << " quit=" << (mod->Quit == first->Quit)
            << " render=" << firstWithRender(index, mod)
            << " same=" << (host_.module(index) == mod);
        *value = out.str();
        return true;
    }

    int firstWithRender(int index, const winampVisModule* mod) {
        for (int earlier = 0; earlier < index; ++earlier) {
            const winampVisModule* other = host_.module(earlier);
            if (other != nullptr && other->Render == mod->Render)
                return earlier;
        }
        return index;
    }

    bool render(int count, DWORD everyMs, std::string* value, std::string* error) {
        if (running_ == nullptr)
            return fail(error, "no module running");
        int result = 0;
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        const DWORD first = GetTickCount();
        for (int i = 0; i < count; ++i) {
            if (everyMs > 0) {
                const DWORD due = first + (DWORD)i * everyMs, now = GetTickCount();
                if ((LONG)(due - now) > 0)
                    host_.pumpMessages(due - now);
            }
            std::memcpy(running_->waveformData, waveform_, sizeof waveform_);
            QueryPerformanceCounter(&start);
            result = host_.render(running_);
            QueryPerformanceCounter(&end);
            const long long us = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
            slowestRenderUs_ = std::max(slowestRenderUs_, us);
            totalRenderUs_ += us;
            if (renderCalls_++ == 0)
                firstRenderStart_ = start.QuadPart;
            lastRenderEnd_ = end.QuadPart;
        }
        *value = std::to_string(result);
        return true;
    }

    bool timing(std::string* value) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        const long long spanUs =
            (lastRenderEnd_ - firstRenderStart_) * 1000000 / frequency.QuadPart;
        *value = "calls=" + std::to_string(renderCalls_) +
                 " slowest=" + std::to_string(slowestRenderUs_) +
                 " total=" + std::to_string(totalRenderUs_) + " span=" + std::to_string(spanUs);
        renderCalls_ = 0;
        slowestRenderUs_ = totalRenderUs_ = 0;
        firstRenderStart_ = lastRenderEnd_ = 0;
        return true;
    }

    // The library stays loaded from here on, so the plugin's own load finds it hooked.
    static HMODULE cubeLibrary(std::string* error) {
        HMODULE library = LoadLibraryA("lumolink.dll");
        if (library == NULL)
            fail(error, "cannot load lumolink.dll");
        return library;
    }

    static bool portFails(DWORD platformError, std::string* error) {
        HMODULE library = cubeLibrary(error);
        return library != NULL && (failPortOpens(library, platformError) ||
                                   fail(error, "lumolink.dll does not import CreateFileA"));
    }

    static bool portRefuses(DWORD closeDelayMs, std::string* error) {
        HMODULE library = cubeLibrary(error);
        return library != NULL && (refusePortSettings(library, closeDelayMs) ||
                                   fail(error, "lumolink.dll does not import the port's calls"));
    }

    static bool loaded(const std::string& name, std::string* value) {
        HMODULE module = GetModuleHandleA(name.c_str());
        char path[MAX_PATH] = "";
        if (module != NULL)
            GetModuleFileNameA(module, path, sizeof path);
        *value = module != NULL ? std::string("1 ") + path : std::string("0");
        return true;
    }

    bool quit(const std::vector<std::string>& w, std::string* error) {
        winampVisModule* mod = running_;
        long index = 0;
        if (w.size() == 2) {
            if (!toLong(w[1], &index) || (mod = host_.module((int)index)) == nullptr)
                return fail(error, "no module " + w[1]);
        }
        if (mod == nullptr)
            return fail(error, "no module running");
        host_.quit(mod);
        running_ = nullptr;
        return true;
    }

    HWND pluginWindow(std::string* error) {
        HWND window = host_.pluginWindow();
        if (window == NULL)
            fail(error, "no plugin window");
        return window;
    }

    bool clientSize(std::string* value, std::string* error) {
        HWND window = pluginWindow(error);
        if (window == NULL)
            return false;
        RECT client;
        GetClientRect(window, &client);
        *value = std::to_string(client.right) + " " + std::to_string(client.bottom);
        return true;
    }

    // The RGB values of a rectangle of a device context, row by row: copied once into a 32-bit
    // top-down bitmap, then read from memory.
    static std::vector<unsigned> readPixels(HDC source, int x0, int y0, int width, int height) {
        BITMAPINFO info;
        ZeroMemory(&info, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC copyDC = CreateCompatibleDC(source);
        HBITMAP copy = CreateDIBSection(copyDC, &info, DIB_RGB_COLORS, &bits, NULL, 0);
        HGDIOBJ old = SelectObject(copyDC, copy);
        BitBlt(copyDC, 0, 0, width, height, source, x0, y0, SRCCOPY);
        GdiFlush();
        std::vector<unsigned> pixels((size_t)width * (size_t)height);
        const unsigned* pixel = static_cast<const unsigned*>(bits);
        for (size_t i = 0; pixel != nullptr && i < pixels.size(); ++i)
            pixels[i] = pixel[i] & 0xFFFFFF;
        SelectObject(copyDC, old);
        DeleteObject(copy);
        DeleteDC(copyDC);
        return pixels;
    }

    bool pixels(int x0, int y0, int x1, int y1, std::string* value, std::string* error) {
        HWND window = pluginWindow(error);
        if (window == NULL)
            return false;
        const int width = x1 - x0, height = y1 - y0;
        if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
            return fail(error, "empty or huge rectangle");
        HDC windowDC = GetDC(window);
        const std::vector<unsigned> pixels = readPixels(windowDC, x0, y0, width, height);
        ReleaseDC(window, windowDC);
        std::string rows;
        for (int y = 0; y < height; ++y) {
            if (y > 0)
                rows += ' ';
            for (int x = 0; x < width; ++x) {
                const unsigned rgb = pixels[(size_t)y * width + x];
                rows += rgb == 0 ? '#' : rgb == 0xFFFFFF ? '.' : '?';
            }
        }
        *value = rows;
        return true;
    }

    bool paint(std::string* error) {
        HWND window = pluginWindow(error);
        if (window == NULL)
            return false;
        RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
        return true;
    }

    bool sendToPlugin(UINT message, WPARAM wParam, LPARAM lParam, std::string* value,
                      std::string* error) {
        HWND window = pluginWindow(error);
        if (window == NULL)
            return false;
        *value = std::to_string((long long)SendMessageA(window, message, wParam, lParam));
        return true;
    }

    bool key(bool down, UINT virtualKey, std::string* value, std::string* error) {
        // As the keyboard driver fills it: repeat count 1, the scan code, and for a release
        // the previous-state and transition bits.
        const UINT scan = MapVirtualKeyA(virtualKey, 0 /* MAPVK_VK_TO_VSC */);
        LPARAM lParam = (LPARAM)(1 | (scan & 0xFF) << 16);
        if (!down)
            lParam |= (LPARAM)(1u << 30 | 1u << 31);
        if (!sendToPlugin(down ? WM_KEYDOWN : WM_KEYUP, virtualKey, lParam, value, error))
            return false;
        *value += " " + std::to_string((long long)lParam);
        return true;
    }

    bool placeFrame(bool move, int a, int b, std::string* error) {
        HWND frame = host_.frameWindow();
        if (!IsWindow(frame))
            return fail(error, "no frame window");
        if (move) {
            SetWindowPos(frame, NULL, a, b, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return true;
        }
        RECT outer = {0, 0, a, b};
        AdjustWindowRectEx(&outer, (DWORD)GetWindowLongA(frame, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongA(frame, GWL_EXSTYLE));
        SetWindowPos(frame, NULL, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return true;
    }

    bool frame(std::string* value) {
        HWND frame = host_.frameWindow();
        RECT r;
        if (!IsWindow(frame) || !GetWindowRect(frame, &r)) {
            *value = "0";
            return true;
        }
        char title[256] = "";
        GetWindowTextA(frame, title, sizeof title);
        std::ostringstream out;
        out << "1 " << r.left << " " << r.top << " " << r.right << " " << r.bottom
            << " title=" << quoteText(title);
        *value = out.str();
        return true;
    }

    bool hostWindow(std::string* value) {
        HWND window = host_.hostWindow();
        if (!IsWindow(window)) {
            *value = "0 0";
            return true;
        }
        int children = 0;
        for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
             child = GetWindow(child, GW_HWNDNEXT))
            ++children;
        *value = "1 " + std::to_string(children);
        return true;
    }

    static bool screen(std::string* value, std::string* error) {
        HDC screenDC = GetDC(NULL);
        const int width = GetDeviceCaps(screenDC, HORZRES);
        const int height = GetDeviceCaps(screenDC, VERTRES);
        if (width <= 0 || height <= 0) {
            ReleaseDC(NULL, screenDC);
            return fail(error, "no screen");
        }
        const std::vector<unsigned> pixels = readPixels(screenDC, 0, 0, width, height);
        ReleaseDC(NULL, screenDC);
        unsigned long long sum = 14695981039346656037ull; // FNV-1a over the pixels
        for (unsigned rgb : pixels) {
            sum ^= rgb;
            sum *= 1099511628211ull;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%d %d %016llx", width, height, sum);
        *value = text;
        return true;
    }

    static bool resources(std::string* value) {
        *value =
            "handle=" + std::to_string(nextEventSlot()) + " gdi=" + std::to_string(nextGdiSlot());
        return true;
    }

    bool leak(const std::string& what, std::string* error) {
        if (what == "handle")
            return CreateEventA(NULL, TRUE, FALSE, NULL) != NULL || fail(error, "no event");
        if (what == "gdi")
            return CreateSolidBrush(RGB(1, 2, 3)) != NULL || fail(error, "no brush");
        if (what == "dc") {
            HWND window = pluginWindow(error);
            return window != NULL && (GetDC(window) != NULL || fail(error, "no DC"));
        }
        return fail(error, "leak handle|gdi|dc");
    }

    VisHost& host_;
    winampVisModule* running_ = nullptr;
    long long renderCalls_ = 0;
    long long slowestRenderUs_ = 0;
    long long totalRenderUs_ = 0;
    long long firstRenderStart_ = 0, lastRenderEnd_ = 0; // performance counter ticks
    unsigned char waveform_[2][kBlockSamples];
};

} // namespace

int runScript(const std::string& plugin, const HostQuirks& quirks) {
    VisHost host;
    host.setQuirks(quirks);
    std::string error;
    if (!host.load(plugin, &error)) {
        std::fprintf(stderr, "vishost: %s\n", error.c_str());
        return kExitBadInput;
    }
    Script script(host);
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!script.run(line))
            break;
    }
    return kExitOk;
}
