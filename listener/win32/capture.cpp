#include "capture.h"

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "devices.h"
#include "report.h"
#include "sound_feed.h"
#include "text.h"
#include "thread_name.h"

static const IID kAudioClientInterface = {
    0x1CB9AD4C, 0xDBFA, 0x4c32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
static const IID kCaptureClientInterface = {
    0xC8ADBD64, 0xE71E, 0x48a0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
static const IID kNotificationInterface = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
static const GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
static const GUID kSubtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

enum {
    // Loopback before Windows 10 1703 never signals its event: what this PC plays is looked at
    // this often. A recording device signals each packet, and needs a look only this often
    // for the checks below.
    kPollMs = 10,
    kEventCheckMs = 100,
    // Loopback hands over nothing at all while nothing plays: after this long without a packet
    // the sound counts as silence, so the cube goes dark instead of freezing.
    kQuietAfterMs = 120,
    kRetryMs = 1000,        // a device that went away, or none there
    kBusyRetryMs = 2000,    // a device another program holds in exclusive mode
    kDefaultCheckMs = 1500, // notifications can be missed; the default is also looked at
    kBufferHns = 2000000,   // 200 ms of sound buffered by the platform
    // A recording device sends packets all the time, silence too. One that has sent none for
    // this long has stopped without a word (Wine's, when its source goes away): open it again,
    // which tells the user if it is really gone.
    kStalledMs = 2000,
};

std::string sourceTitle(const std::string& device) {
    return device.empty() ? "What this PC plays" : device;
}

// The platform's news about devices, on its own threads: only noted here, acted on by the
// capture thread, which the note wakes.
class DeviceNews final : public IMMNotificationClient {
  public:
    explicit DeviceNews(HANDLE wake) : wake_(wake) {}
    std::atomic<bool> defaultChanged{false};
    std::atomic<bool> devicesChanged{false};

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kNotificationInterface)) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    // Windows says it once per role; the console role stands for all three.
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole role, LPCWSTR) override {
        if (role == eConsole) {
            defaultChanged = true;
            SetEvent(wake_);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

  private:
    HRESULT changed() {
        devicesChanged = true;
        SetEvent(wake_);
        return S_OK;
    }
    std::atomic<ULONG> references_{1};
    HANDLE wake_;
};

// What the tray asks of the capture thread.
static std::mutex commandMutex;
static std::string wantedDevice;
static bool deviceChangeWanted = false;
static bool restartWanted = false;
static bool stopWanted = false;
static HANDLE wakeEvent = NULL;
static std::thread captureThread;

static std::string hresultText(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", (unsigned long)result);
    return text;
}

class Capture {
  public:
    Capture(SoundFeed* feed, const std::string& device) : feed_(feed), device_(device) {}

    void run() {
        nameThisThread("lumo capture");
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        packetEvent_ = CreateEventA(NULL, FALSE, FALSE, NULL);
        enumerator_ = createDeviceEnumerator();
        news_ = new DeviceNews(wakeEvent);
        if (enumerator_)
            enumerator_->RegisterEndpointNotificationCallback(news_);
        setStatusListening(sourceTitle(device_));
        for (;;) {
            if (!takeCommands())
                break;
            DWORD now = GetTickCount();
            if (client_ == NULL) {
                if ((long)(now - retryAt_) >= 0 || news_->devicesChanged.exchange(false) ||
                    news_->defaultChanged.exchange(false))
                    open();
            } else {
                poll(now);
                followDefault(now);
            }
            wait(now);
        }
        close();
        feed_->clear();
        CloseHandle(packetEvent_);
        if (enumerator_) {
            enumerator_->UnregisterEndpointNotificationCallback(news_);
            enumerator_->Release();
        }
        news_->Release();
        CoUninitialize();
    }

  private:
    // Until the next packet, the tray's next wish, or the next check that is due: the thread
    // sleeps between packets instead of asking for them.
    void wait(DWORD now) {
        DWORD timeout = kPollMs;
        if (client_ == NULL) {
            long untilRetry = (long)(retryAt_ - now);
            timeout = untilRetry <= 0 ? 0 : (DWORD)untilRetry;
            if (timeout > (DWORD)kRetryMs)
                timeout = (DWORD)kRetryMs;
        } else if (!loopback_ && packetEvent_ != NULL) {
            timeout = kEventCheckMs;
        }
        HANDLE events[] = {wakeEvent, packetEvent_};
        WaitForMultipleObjects(packetEvent_ != NULL ? 2 : 1, events, FALSE, timeout);
    }

    bool takeCommands() {
        std::lock_guard<std::mutex> lock(commandMutex);
        if (stopWanted)
            return false;
        if (deviceChangeWanted) {
            deviceChangeWanted = false;
            device_ = wantedDevice;
            close();
            feed_->clear();
            problem_.clear();
            listening_.clear();
            setStatusListening(sourceTitle(device_));
            retryAt_ = GetTickCount();
        }
        if (restartWanted) {
            restartWanted = false;
            close();
            retryAt_ = GetTickCount();
        }
        return true;
    }

    // Told once for as long as it lasts; a new problem is told again.
    void trouble(const std::string& text, DWORD retryMs) {
        if (text != problem_) {
            problem_ = text;
            tellFailure(text);
            setStatusListening(sourceTitle(device_) + " (not there)");
        }
        listening_.clear();
        retryAt_ = GetTickCount() + retryMs;
    }

    void close() {
        if (capture_) {
            capture_->Release();
            capture_ = NULL;
        }
        if (client_) {
            client_->Stop();
            client_->Release();
            client_ = NULL;
        }
        currentId_.clear();
    }

    // The device to listen to now, with its name as Windows gives it and what to call it.
    IMMDevice* chooseDevice(bool* loopback, std::string* name, std::string* what) {
        if (enumerator_ == NULL)
            return NULL;
        if (!device_.empty()) {
            *loopback = false;
            *name = *what = device_;
            return recordingDeviceNamed(enumerator_, device_);
        }
        *loopback = !loopbackRefused_;
        IMMDevice* device = defaultDevice(enumerator_, loopbackRefused_ ? eCapture : eRender);
        *name = device ? deviceName(device) : std::string();
        *what = loopbackRefused_ ? "the default recording device (" + *name + ")"
                                 : "what this PC plays (" + *name + ")";
        return device;
    }

    void open() {
        bool loopback = false;
        std::string name, what;
        IMMDevice* device = chooseDevice(&loopback, &name, &what);
        if (device == NULL) {
            if (enumerator_ == NULL)
                trouble("Windows' audio service is not there; the cube stays dark", kRetryMs * 10);
            else if (!device_.empty())
                trouble("The recording device " + device_ +
                            " is not there; the cube stays dark until it is back",
                        kRetryMs);
            else
                trouble("This PC has no sound device to listen to; the cube stays dark until "
                        "there is one",
                        kRetryMs);
            return;
        }
        std::wstring id = deviceId(device);
        HRESULT result =
            device->Activate(kAudioClientInterface, CLSCTX_ALL, NULL, (void**)&client_);
        device->Release();
        if (FAILED(result)) {
            client_ = NULL;
            failed(result, name);
            return;
        }
        WAVEFORMATEX* mix = NULL;
        result = client_->GetMixFormat(&mix);
        MixFormat format;
        if (FAILED(result) || !readFormat(mix, &format)) {
            if (mix)
                CoTaskMemFree(mix);
            close();
            if (FAILED(result))
                failed(result, name);
            else
                trouble("The sound of " + name + " comes in a form lumolisten cannot read",
                        kRetryMs * 10);
            return;
        }
        DWORD flags = loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0;
        result = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                     flags | (packetEvent_ ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0),
                                     kBufferHns, 0, mix, NULL);
        // Loopback takes the event everywhere but signals it only from Windows 10 1703 on: it
        // is polled as well (wait()).
        if (SUCCEEDED(result) && packetEvent_)
            result = client_->SetEventHandle(packetEvent_);
        CoTaskMemFree(mix);
        if (SUCCEEDED(result)) {
            result = client_->GetService(kCaptureClientInterface, (void**)&capture_);
            if (FAILED(result))
                capture_ = NULL; // whatever a failed call left there is not ours to release
        }
        if (FAILED(result) && loopback && result != AUDCLNT_E_DEVICE_INVALIDATED &&
            result != AUDCLNT_E_DEVICE_IN_USE) {
            // Windows loops any output back; some platforms (Wine) take the flag and then
            // refuse the capture. Said once; from then on the default recording device it is.
            close();
            loopbackRefused_ = true;
            tellFailure("Cannot hear what this PC plays here; listening to the default recording "
                        "device instead");
            open();
            return;
        }
        if (SUCCEEDED(result))
            result = client_->Start();
        if (FAILED(result)) {
            close();
            failed(result, name);
            return;
        }
        feed_->start(format);
        currentId_ = id;
        currentName_ = name;
        loopback_ = loopback;
        lastPacket_ = lastQuiet_ = GetTickCount();
        lastDefaultCheck_ = lastPacket_;
        problem_.clear();
        setStatusListening(device_.empty() ? what : name);
        if (what != listening_) {
            listening_ = what;
            tellNews("Listening to " + what);
        }
    }

    void failed(HRESULT result, const std::string& name) {
        if (result == AUDCLNT_E_DEVICE_IN_USE)
            trouble(name + " is in use by another program in exclusive mode; the cube stays dark "
                           "until it lets go",
                    kBusyRetryMs);
        else if (result == AUDCLNT_E_DEVICE_INVALIDATED || result == E_NOTFOUND ||
                 result == AUDCLNT_E_ENDPOINT_CREATE_FAILED || // a device half gone
                 result == HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
            trouble("The sound device " + name + " went away; the cube stays dark until it is back",
                    kRetryMs);
        else
            trouble("Cannot listen to " + name + " (" + hresultText(result) + "); trying again",
                    kBusyRetryMs);
    }

    static bool readFormat(const WAVEFORMATEX* mix, MixFormat* format) {
        if (mix == NULL)
            return false;
        WORD tag = mix->wFormatTag;
        WORD bits = mix->wBitsPerSample;
        if (tag == WAVE_FORMAT_EXTENSIBLE && mix->cbSize >= 22) {
            const WAVEFORMATEXTENSIBLE* extensible = (const WAVEFORMATEXTENSIBLE*)mix;
            if (IsEqualGUID(extensible->SubFormat, kSubtypePcm))
                tag = WAVE_FORMAT_PCM;
            else if (IsEqualGUID(extensible->SubFormat, kSubtypeFloat))
                tag = WAVE_FORMAT_IEEE_FLOAT;
            else
                return false;
        }
        if (tag == WAVE_FORMAT_IEEE_FLOAT && bits == 32)
            format->encoding = MixFormat::kFloat32;
        else if (tag == WAVE_FORMAT_PCM && bits == 16)
            format->encoding = MixFormat::kInt16;
        else if (tag == WAVE_FORMAT_PCM && bits == 24)
            format->encoding = MixFormat::kInt24;
        else if (tag == WAVE_FORMAT_PCM && bits == 32)
            format->encoding = MixFormat::kInt32;
        else
            return false;
        format->channels = mix->nChannels;
        format->rate = (int)mix->nSamplesPerSec;
        format->frameSize = mix->nBlockAlign;
        return mixFormatUsable(*format);
    }

    void poll(DWORD now) {
        for (;;) {
            UINT32 waiting = 0;
            HRESULT result = capture_->GetNextPacketSize(&waiting);
            if (SUCCEEDED(result) && waiting == 0)
                break;
            BYTE* data = NULL;
            UINT32 frames = 0;
            DWORD flags = 0;
            if (SUCCEEDED(result))
                result = capture_->GetBuffer(&data, &frames, &flags, NULL, NULL);
            if (result == AUDCLNT_S_BUFFER_EMPTY)
                break;
            if (FAILED(result)) {
                lost(result);
                return;
            }
            feed_->push(data, frames, (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0);
            capture_->ReleaseBuffer(frames);
            lastPacket_ = lastQuiet_ = now;
        }
        if (now - lastPacket_ >= kQuietAfterMs) {
            feed_->pushSilence(now - lastQuiet_);
            lastQuiet_ = now;
        }
        if (!loopback_ && now - lastPacket_ >= kStalledMs) {
            close();
            feed_->clear();
            retryAt_ = now;
        }
    }

    void lost(HRESULT result) {
        std::string name = currentName_;
        close();
        feed_->clear();
        failed(result, name);
    }

    // What this PC plays follows the default output: headphones plugged in, a USB headset.
    void followDefault(DWORD now) {
        if (!device_.empty())
            return;
        bool told = news_->defaultChanged.exchange(false);
        if (!told && now - lastDefaultCheck_ < kDefaultCheckMs)
            return;
        lastDefaultCheck_ = now;
        IMMDevice* device = defaultDevice(enumerator_, loopbackRefused_ ? eCapture : eRender);
        std::wstring id = device ? deviceId(device) : std::wstring();
        if (device)
            device->Release();
        if (id != currentId_) {
            close();
            open();
        }
    }

    SoundFeed* feed_;
    std::string device_;
    IMMDeviceEnumerator* enumerator_ = NULL;
    DeviceNews* news_ = NULL;
    IAudioClient* client_ = NULL;
    IAudioCaptureClient* capture_ = NULL;
    std::wstring currentId_;
    std::string currentName_; // as Windows names the device listened to
    bool loopbackRefused_ = false;
    bool loopback_ = false; // the capture open now hears an output, which is silent by not sending
    HANDLE packetEvent_ = NULL; // set by the platform when a packet is there
    DWORD retryAt_ = 0;
    DWORD lastPacket_ = 0;
    DWORD lastQuiet_ = 0;
    DWORD lastDefaultCheck_ = 0;
    std::string problem_;   // the trouble last told, until it is over
    std::string listening_; // what the last "Listening to" said
};

void startCapture(const std::string& device, SoundFeed* feed) {
    wakeEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = false;
    }
    captureThread = std::thread([=] { Capture(feed, device).run(); });
}

void setCaptureDevice(const std::string& device) {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        wantedDevice = device;
        deviceChangeWanted = true;
    }
    SetEvent(wakeEvent);
}

void restartCapture() {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        restartWanted = true;
    }
    SetEvent(wakeEvent);
}

void stopCapture() {
    if (!captureThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = true;
    }
    SetEvent(wakeEvent);
    captureThread.join();
    CloseHandle(wakeEvent);
    wakeEvent = NULL;
}
