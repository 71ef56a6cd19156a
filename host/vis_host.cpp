#include "vis_host.h"

#include <cstdio>

namespace {

const char kHostClass[] = "vishost";
VisHost* g_host = nullptr; // the one host on this thread, for the window procedure

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Only a plugin embedded here ever gives this window a child.
    layOutEmbedded(window, message, wParam, lParam);
    if (g_host != nullptr) {
        if (message == WM_CLOSE && g_host->quirks().embedInHostWindow) {
            // Shown with the plugin in it: closing it ends the run, as closing a frame does.
            g_host->frameClosed();
            return 0;
        }
        if (message == WM_USER)
            return g_host->request(wParam, lParam);
        if (message >= WM_KEYFIRST && message <= WM_KEYLAST) {
            g_host->keyForwarded(message, wParam, lParam);
            return 0;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

std::string quoteText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                out += escaped;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

namespace {

std::string windowTitle(HWND window) {
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    return title;
}

} // namespace

VisHost* threadHost() {
    return g_host;
}

HWND __cdecl embedWindow(embedWindowState* state) {
    return g_host != nullptr ? g_host->embed(state) : NULL;
}

std::string describeEvent(const HostEvent& event) {
    char line[160];
    switch (event.kind) {
    case HostEvent::kRequest:
        std::snprintf(line, sizeof line, "request %u %llu result=%lld", event.message, event.wParam,
                      event.value);
        return line;
    case HostEvent::kBox: {
        std::string type =
            event.type == kUnknownBoxType ? std::string("?") : std::to_string(event.type);
        return "box owner=" + event.owner + " caption=" + quoteText(event.caption) +
               " text=" + quoteText(event.text) + " type=" + type;
    }
    case HostEvent::kKey:
        std::snprintf(line, sizeof line, "key %u %llu %lld", event.message, event.wParam,
                      event.value);
        return line;
    case HostEvent::kFrame:
        std::snprintf(line, sizeof line, "frame %ld %ld %ld %ld title=", event.rect.left,
                      event.rect.top, event.rect.right, event.rect.bottom);
        return line + quoteText(event.title);
    case HostEvent::kQuitMessage:
        return "quitmessage " + std::to_string(event.value);
    }
    return "unknown";
}

VisHost::VisHost()
    : boxes_([this](const MessageBoxSeen& box) {
          HostEvent event;
          event.kind = HostEvent::kBox;
          event.owner = ownerName(box.owner);
          event.caption = box.caption;
          event.text = box.text;
          event.type = box.type;
          record(event);
      }) {
    g_host = this;
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA hostClass;
    ZeroMemory(&hostClass, sizeof hostClass);
    hostClass.lpfnWndProc = hostProc;
    hostClass.hInstance = instance;
    hostClass.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    hostClass.lpszClassName = kHostClass;
    RegisterClassA(&hostClass);
    registerFrameClass(instance);
    // Never shown by us: it only takes requests and keys and owns the boxes, as the player's
    // main window does. A plugin embedded into it (HostQuirks::embedInHostWindow) shows it.
    hostWindow_ = CreateWindowExA(0, kHostClass, "vishost", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  NULL, NULL, instance, NULL);
}

VisHost::~VisHost() {
    for (HWND frame : frames_)
        if (IsWindow(frame))
            DestroyWindow(frame);
    DestroyWindow(hostWindow_);
    pumpMessages();
    g_host = nullptr;
}

bool VisHost::load(const std::string& path, std::string* error) {
    library_ = LoadLibraryA(path.c_str());
    if (library_ == NULL) {
        *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    winampVisGetHeaderType getHeader =
        (winampVisGetHeaderType)(void*)GetProcAddress(library_, "winampVisGetHeader");
    if (getHeader == nullptr) {
        *error = path + " does not export winampVisGetHeader";
        return false;
    }
    header_ = getHeader();
    if (header_ == nullptr) {
        *error = "winampVisGetHeader returned no header";
        return false;
    }
    return true;
}

winampVisModule* VisHost::module(int index) {
    if (header_ == nullptr || header_->getModule == nullptr)
        return nullptr;
    winampVisModule* mod = header_->getModule(index);
    if (mod != nullptr)
        prepare(mod);
    return mod;
}

void VisHost::setAudioFormat(int sampleRate, int channels) {
    sampleRate_ = sampleRate;
    channels_ = channels;
}

void VisHost::prepare(winampVisModule* mod) {
    mod->hwndParent = hostWindow_;
    mod->hDllInstance = library_;
    mod->sRate = sampleRate_;
    mod->nCh = channels_;
}

void VisHost::config(winampVisModule* mod) {
    prepare(mod);
    mod->Config(mod);
    pumpMessages();
}

int VisHost::init(winampVisModule* mod) {
    if (quirks_.configBeforeInit)
        config(mod);
    prepare(mod);
    pendingFrame_ = PendingFrame();
    const int result = mod->Init(mod);
    // The plugin titles its frame after the embedding function returned.
    if (pendingFrame_.events != 0) {
        const std::string title =
            IsWindow(pendingFrame_.frame) ? windowTitle(pendingFrame_.frame) : std::string();
        events_[pendingFrame_.events - 1].title = title;
        history_[pendingFrame_.history - 1].title = title;
        pendingFrame_ = PendingFrame();
    }
    pumpMessages();
    return result;
}

int VisHost::render(winampVisModule* mod) {
    const int result = mod->Render(mod);
    pumpMessages();
    return result;
}

void VisHost::quit(winampVisModule* mod) {
    mod->Quit(mod);
    pumpMessages();
}

void VisHost::pumpMessages(DWORD waitMs) {
    const DWORD until = GetTickCount() + waitMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // A plugin window posts this when it is destroyed; the player carries on.
                HostEvent event;
                event.kind = HostEvent::kQuitMessage;
                event.value = (long long)msg.wParam;
                record(event);
                continue;
            }
            if (msg.hwnd == hostWindow_ && msg.message >= WM_KEYFIRST &&
                msg.message <= WM_KEYLAST) {
                // Any keyboard message the plugin hands on, exactly as it was posted: not
                // translated into characters here, so a character seen was forwarded as one.
                keyForwarded(msg.message, msg.wParam, msg.lParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD now = GetTickCount();
        if (waitMs == 0 || (LONG)(until - now) <= 0)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, until - now, QS_ALLINPUT);
    }
}

HWND VisHost::frameWindow() const {
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
        if (IsWindow(*frame))
            return *frame;
    return NULL;
}

HWND VisHost::pluginWindow() const {
    HWND frame = frameWindow();
    return frame != NULL ? GetWindow(frame, GW_CHILD) : NULL;
}

std::vector<HostEvent> VisHost::takeEvents() {
    std::vector<HostEvent> taken;
    taken.swap(events_);
    pendingFrame_ = PendingFrame();
    return taken;
}

std::string VisHost::ownerName(HWND owner) const {
    if (owner == NULL)
        return "none";
    if (owner == hostWindow_)
        return "parent";
    if (owner == frameWindow())
        return "frame";
    if (owner == pluginWindow())
        return "plugin";
    char hex[32];
    std::snprintf(hex, sizeof hex, "%p", (void*)owner);
    return hex;
}

LRESULT VisHost::request(WPARAM wParam, LPARAM code) {
    LRESULT answer = 0;
    long long shown = 0;
    if (code == kRequestEmbedFunction) {
        answer = embedAvailable_ ? (LRESULT)(void*)embedWindow : 0;
        shown = embedAvailable_ ? 1 : 0;
    } else if (code == kRequestFullscreenBlocked) {
        answer = videoAnswer_;
        shown = (long long)answer;
    }
    HostEvent event;
    event.kind = HostEvent::kRequest;
    event.message = (unsigned)code;
    event.wParam = (unsigned long long)wParam;
    event.value = shown;
    record(event);
    return answer;
}

void VisHost::keyForwarded(UINT message, WPARAM wParam, LPARAM lParam) {
    HostEvent event;
    event.kind = HostEvent::kKey;
    event.message = message;
    event.wParam = (unsigned long long)wParam;
    event.value = (long long)lParam;
    record(event);
}

void VisHost::record(const HostEvent& event) {
    events_.push_back(event);
    history_.push_back(event);
}
