// fakeaudio.dll's own machinery: the class object COM asks for, the log, and the thread that
// watches fake-audio.txt and tells the program what changed, from a thread of its own as Windows'
// audio service does.
#include <winternl.h>

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>

#include "fake_audio.h"
#include "port_hooks.h"

namespace fakeaudio {

namespace {

HMODULE self = nullptr;
CRITICAL_SECTION stateLock; // see Lock
CRITICAL_SECTION logLock;   // taken alone or inside stateLock, never the other way round
CRITICAL_SECTION startLock;
bool started = false;
std::wstring folder; // the DLL's own, with its trailing backslash

Control current;
std::string currentText; // what the control file held when last read
bool currentMissing = true;
std::vector<IMMNotificationClient*> listeners;

// Which lumolink.dll our hook sits in, and with which error.
HMODULE hookedLink = nullptr;
DWORD hookedError = 0;

typedef BOOLEAN(NTAPI* ShutdownQuery)();
ShutdownQuery shutdownInProgress = nullptr;

// Once the process is ending, the watcher thread is gone, perhaps while it held a lock; a DLL
// that releases our objects as it unloads must not wait for it for ever.
bool exiting() {
    return shutdownInProgress && shutdownInProgress();
}

} // namespace

Lock::Lock() : held_(!exiting()) {
    if (held_)
        EnterCriticalSection(&stateLock);
}

Lock::~Lock() {
    if (held_)
        LeaveCriticalSection(&stateLock);
}

const Control& control() {
    return current;
}

// ---- Text ----

std::wstring widen(const std::string& utf8) {
    if (utf8.empty())
        return L"";
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], length);
    return wide;
}

std::string narrow(const wchar_t* text) {
    if (!text || !*text)
        return "";
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(length - 1);
    return utf8;
}

std::string guidText(REFGUID guid) {
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             (unsigned long)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
             guid.Data4[7]);
    return text;
}

WCHAR* copyForCaller(const std::wstring& text) {
    size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    WCHAR* copy = (WCHAR*)CoTaskMemAlloc(bytes);
    if (copy)
        memcpy(copy, text.c_str(), bytes);
    return copy;
}

// ---- The log ----

void log(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    length = std::min<int>(length, sizeof line - 2);
    line[length++] = '\n';
    // Opened for each line, for appending only, so lines from several processes interleave
    // whole and each is on disk before the call that wrote it returns.
    bool locked = !exiting();
    if (locked)
        EnterCriticalSection(&logLock);
    HANDLE file = CreateFileW((folder + L"fake-audio-log.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, (DWORD)length, &written, nullptr);
        CloseHandle(file);
    }
    if (locked)
        LeaveCriticalSection(&logLock);
}

// ---- Notification clients ----

HRESULT registerNotifications(IMMNotificationClient* client) {
    if (!client)
        return E_POINTER;
    return guarded([&] {
        Lock lock;
        listeners.push_back(client);
        client->AddRef();
        log("Register notifications");
        return S_OK;
    });
}

HRESULT unregisterNotifications(IMMNotificationClient* client) {
    if (!client)
        return E_POINTER;
    IMMNotificationClient* found = nullptr;
    {
        Lock lock;
        auto at = std::find(listeners.begin(), listeners.end(), client);
        if (at == listeners.end()) {
            log("Unregister notifications not-registered");
            return E_NOTFOUND;
        }
        found = *at;
        listeners.erase(at);
        log("Unregister notifications");
    }
    found->Release(); // outside the lock: the program's own code runs in it
    return S_OK;
}

size_t registeredNotifications() {
    Lock lock;
    return listeners.size();
}

namespace {

// What a change of the control file tells the notification clients, in the order Windows tells
// it: devices that came, changed or went, then the new defaults.
struct Notice {
    enum Kind { Added, State, Name, Removed, Default };
    Kind kind;
    std::string id; // empty: no default device any more
    DWORD state = 0;
    EDataFlow flow = eRender;
    ERole role = eConsole;
};

const char* stateName(DWORD state) {
    switch (state) {
    case DEVICE_STATE_ACTIVE:
        return "active";
    case DEVICE_STATE_DISABLED:
        return "disabled";
    case DEVICE_STATE_NOTPRESENT:
        return "notpresent";
    case DEVICE_STATE_UNPLUGGED:
        return "unplugged";
    }
    return "unknown";
}

std::vector<Notice> noticesBetween(const Control& before, const Control& after) {
    std::vector<Notice> notices;
    for (const Device& device : after.devices) {
        const Device* was = before.find(device.id);
        if (!was)
            notices.push_back({Notice::Added, device.id});
        if (!was || was->state != device.state) {
            Notice notice{Notice::State, device.id};
            notice.state = device.state;
            notices.push_back(notice);
        } else if (was->name != device.name) {
            notices.push_back({Notice::Name, device.id});
        }
    }
    for (const Device& device : before.devices) {
        if (after.find(device.id))
            continue;
        Notice gone{Notice::State, device.id};
        gone.state = DEVICE_STATE_NOTPRESENT;
        notices.push_back(gone);
        notices.push_back({Notice::Removed, device.id});
    }
    for (bool render : {true, false}) {
        std::string now = after.defaultFor(render);
        if (now == before.defaultFor(render))
            continue;
        // Windows names each role's default on its own, even when one device has them all.
        for (ERole role : {eConsole, eMultimedia, eCommunications}) {
            Notice notice{Notice::Default, now};
            notice.flow = render ? eRender : eCapture;
            notice.role = role;
            notices.push_back(notice);
        }
    }
    return notices;
}

void tell(IMMNotificationClient* listener, const Notice& notice) {
    std::wstring id = widen(notice.id);
    switch (notice.kind) {
    case Notice::Added:
        log("Notify added %s", notice.id.c_str());
        listener->OnDeviceAdded(id.c_str());
        break;
    case Notice::State:
        log("Notify state %s %s", notice.id.c_str(), stateName(notice.state));
        listener->OnDeviceStateChanged(id.c_str(), notice.state);
        break;
    case Notice::Name:
        log("Notify property %s name", notice.id.c_str());
        listener->OnPropertyValueChanged(id.c_str(), deviceFriendlyName);
        break;
    case Notice::Removed:
        log("Notify removed %s", notice.id.c_str());
        listener->OnDeviceRemoved(id.c_str());
        break;
    case Notice::Default: {
        static const char* const roles[] = {"console", "multimedia", "communications"};
        log("Notify default %s %s %s", notice.flow == eRender ? "render" : "capture",
            roles[notice.role], notice.id.empty() ? "none" : notice.id.c_str());
        listener->OnDefaultDeviceChanged(notice.flow, notice.role,
                                         notice.id.empty() ? nullptr : id.c_str());
        break;
    }
    }
}

// ---- lumolink.dll's port opens ----

// Puts the control's port error into lumolink.dll if it is loaded and does not have it yet.
void hookPortOpens(HMODULE link) {
    Lock lock;
    DWORD wanted = current.portError;
    if (!link) {
        hookedLink = nullptr;
        hookedError = 0;
        return;
    }
    if (link == hookedLink && wanted == hookedError)
        return;
    if (link != hookedLink && wanted == 0) { // freshly loaded: its opens go through already
        hookedLink = link;
        hookedError = 0;
        return;
    }
    bool hooked = failPortOpens(link, wanted);
    hookedLink = link;
    hookedError = wanted;
    if (hooked)
        log("Port error %lu", (unsigned long)wanted);
    else
        log("Port hook failed");
}

void checkPortLibrary() {
    // Not under our lock: this takes the loader's, and the loader holds its own while it calls
    // onDllNotification, which takes ours.
    hookPortOpens(GetModuleHandleA("lumolink.dll"));
}

// The loader tells us of each DLL it maps, before anything can call it, so a program that loads
// lumolink.dll after creating the enumerator cannot open a port before the hook is in.
struct DllNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
typedef VOID(CALLBACK* DllNotificationFunction)(ULONG, const DllNotification*, void*);
typedef LONG(NTAPI* RegisterDllNotification)(ULONG, DllNotificationFunction, void*, void**);

VOID CALLBACK onDllNotification(ULONG reason, const DllNotification* data, void*) {
    const UNICODE_STRING* name = data->baseName;
    static const wchar_t link[] = L"lumolink.dll";
    if (!name || name->Length != (sizeof link - sizeof link[0]) ||
        _wcsnicmp(name->Buffer, link, name->Length / sizeof(wchar_t)) != 0)
        return;
    if (reason == 1) // loaded
        hookPortOpens((HMODULE)data->base);
    else
        hookPortOpens(nullptr);
}

void watchDllLoads() {
    RegisterDllNotification registerNotification = (RegisterDllNotification)(void*)GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification");
    void* cookie = nullptr;
    if (!registerNotification || registerNotification(0, onDllNotification, nullptr, &cookie) != 0)
        log("DLL load notifications unavailable");
}

// ---- The control file ----

// The file's text; false when it is not there (or cannot be read: the test is replacing it).
bool readControlFile(std::string* text) {
    HANDLE file = CreateFileW((folder + L"fake-audio.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text->append(buffer, read);
    CloseHandle(file);
    return true;
}

// Reads the control file if it changed, puts what it says in force, and tells the notification
// clients what Windows would tell them.
void readControl() {
    std::string text;
    bool missing = !readControlFile(&text);
    {
        Lock lock;
        if (started && text == currentText && missing == currentMissing)
            return;
    }
    std::vector<std::string> problems;
    Control next = parseControl(text, &problems);
    std::vector<Notice> notices;
    std::vector<IMMNotificationClient*> told;
    {
        Lock lock;
        currentText = text;
        currentMissing = missing;
        notices = noticesBetween(current, next);
        current = next;
        for (const std::string& problem : problems)
            log("Control %s", problem.c_str());
        invalidateClients();
        if (!notices.empty()) {
            told = listeners;
            for (IMMNotificationClient* listener : told)
                listener->AddRef();
        }
    }
    checkPortLibrary();
    for (IMMNotificationClient* listener : told) {
        for (const Notice& notice : notices)
            tell(listener, notice);
        listener->Release();
    }
    // Last, so that a test that waits for this line finds the program told of everything.
    if (missing)
        log("Control missing");
    else if (next.revision.empty())
        log("Control applied");
    else
        log("Control applied revision %s", next.revision.c_str());
}

DWORD WINAPI watch(void*) {
    for (unsigned tick = 0;; ++tick) {
        Sleep(10);
        try {
            {
                Lock lock;
                signalClientEvents();
            }
            if (tick % 2 == 1)
                readControl();
            checkPortLibrary();
        } catch (...) {
            log("Control could not be applied");
        }
    }
}

std::string exeName() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    return narrow(slash ? slash + 1 : path);
}

// Once per process, at the first class object asked for: reads the control, hooks lumolink.dll
// if it asks for that, and starts the thread that watches the control. The DLL stays loaded
// from then on (the thread runs its code), whatever COM thinks of unloading it.
HRESULT start() {
    EnterCriticalSection(&startLock);
    HRESULT result = S_OK;
    if (!started) {
        result = guarded([] {
            HMODULE pinned = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_PIN,
                               (LPCWSTR)(void*)&start, &pinned);
            log("Loaded %s", exeName().c_str());
            readControl();
            watchDllLoads();
            HANDLE thread = CreateThread(nullptr, 0, watch, nullptr, 0, nullptr);
            if (!thread)
                return E_OUTOFMEMORY;
            CloseHandle(thread);
            started = true;
            return S_OK;
        });
    }
    LeaveCriticalSection(&startLock);
    return result;
}

// ---- The class object ----

class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // One for the whole process, never freed.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return createEnumerator(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

} // namespace

} // namespace fakeaudio

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    using namespace fakeaudio;
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&stateLock);
        InitializeCriticalSection(&logLock);
        InitializeCriticalSection(&startLock);
        shutdownInProgress = (ShutdownQuery)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                  "RtlDllShutdownInProgress");
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(self, path, MAX_PATH);
        wchar_t* slash = wcsrchr(path, L'\\');
        if (slash)
            slash[1] = L'\0';
        try {
            folder = path;
        } catch (...) {
            return FALSE;
        }
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    using namespace fakeaudio;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != __uuidof(MMDeviceEnumerator))
        return CLASS_E_CLASSNOTAVAILABLE;
    HRESULT started = start();
    if (FAILED(started))
        return started;
    return factory.QueryInterface(iid, object);
}

// The watcher thread runs our code for as long as the process lives.
STDAPI DllCanUnloadNow() {
    return S_FALSE;
}
