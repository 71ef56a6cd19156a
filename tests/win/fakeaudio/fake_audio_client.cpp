// The stream side of the fake: IAudioClient and its IAudioCaptureClient. Sound is made from the
// clock, as a device makes it: from Start on, the device's rate of frames a second waits to be
// taken in packets of 10 ms, and what the program does not take in time is lost, as on Windows,
// with the next packet flagged as a discontinuity.
#include <math.h>

#include <algorithm>

#include "fake_audio.h"

namespace fakeaudio {

namespace {

const REFERENCE_TIME defaultPeriod = 100000; // 10 ms, in 100 ns units
const REFERENCE_TIME minimumPeriod = 30000;
const double fullTurn = 6.283185307179586;

const DWORD knownStreamFlags =
    AUDCLNT_STREAMFLAGS_CROSSPROCESS | AUDCLNT_STREAMFLAGS_LOOPBACK |
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST |
    AUDCLNT_STREAMFLAGS_RATEADJUST | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
    AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_SESSIONFLAGS_EXPIREWHENUNOWNED |
    AUDCLNT_SESSIONFLAGS_DISPLAY_HIDE | AUDCLNT_SESSIONFLAGS_DISPLAY_HIDEWHENEXPIRED;

LONGLONG counterFrequency() {
    static LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

LONGLONG counterNow() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

// `ticks` of the performance counter scaled to `units` a second, without overflowing for runs
// of days.
UINT64 scaleTicks(LONGLONG ticks, UINT64 units) {
    LONGLONG frequency = counterFrequency();
    return (UINT64)(ticks / frequency) * units + (UINT64)(ticks % frequency) * units / frequency;
}

// Which speaker each channel feeds, as Windows lays out 1 to 8 channels. Channel 0 is the front
// left speaker except on a mono device, where it is the centre.
DWORD channelMask(int channels) {
    static const DWORD masks[] = {
        SPEAKER_FRONT_CENTER,
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT,
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER,
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT,
        SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_BACK_LEFT |
            SPEAKER_BACK_RIGHT,
        KSAUDIO_SPEAKER_5POINT1,
        KSAUDIO_SPEAKER_5POINT1 | SPEAKER_BACK_CENTER,
        KSAUDIO_SPEAKER_7POINT1_SURROUND,
    };
    return masks[std::min(std::max(channels, 1), 8) - 1];
}

WAVEFORMATEX* formatForCaller(const StreamFormat& format) {
    WAVEFORMATEXTENSIBLE* wave = (WAVEFORMATEXTENSIBLE*)CoTaskMemAlloc(sizeof *wave);
    if (!wave)
        return nullptr;
    ZeroMemory(wave, sizeof *wave);
    wave->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave->Format.nChannels = (WORD)format.channels;
    wave->Format.nSamplesPerSec = (DWORD)format.rate;
    wave->Format.nBlockAlign = (WORD)format.blockAlign();
    wave->Format.nAvgBytesPerSec = (DWORD)(format.rate * format.blockAlign());
    wave->Format.wBitsPerSample = (WORD)(8 * bytesPerSample(format.sample));
    wave->Format.cbSize = sizeof *wave - sizeof wave->Format;
    wave->Samples.wValidBitsPerSample = wave->Format.wBitsPerSample;
    wave->dwChannelMask = channelMask(format.channels);
    wave->SubFormat = format.sample == SampleFormat::Float32 ? subtypeFloat : subtypePcm;
    return &wave->Format;
}

// What a format the program passes asks for; false for anything the fake cannot make (8-bit,
// 24 valid bits in a 32-bit container, 64-bit float, more than 8 channels).
bool readFormat(const WAVEFORMATEX* wave, StreamFormat* format) {
    WORD tag = wave->wFormatTag;
    WORD validBits = wave->wBitsPerSample;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (wave->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return false;
        const WAVEFORMATEXTENSIBLE* extensible = (const WAVEFORMATEXTENSIBLE*)wave;
        if (IsEqualGUID(extensible->SubFormat, subtypeFloat))
            tag = WAVE_FORMAT_IEEE_FLOAT;
        else if (IsEqualGUID(extensible->SubFormat, subtypePcm))
            tag = WAVE_FORMAT_PCM;
        else
            return false;
        validBits = extensible->Samples.wValidBitsPerSample;
    }
    if (validBits != wave->wBitsPerSample)
        return false;
    if (tag == WAVE_FORMAT_IEEE_FLOAT && wave->wBitsPerSample == 32)
        format->sample = SampleFormat::Float32;
    else if (tag == WAVE_FORMAT_PCM && wave->wBitsPerSample == 16)
        format->sample = SampleFormat::Int16;
    else if (tag == WAVE_FORMAT_PCM && wave->wBitsPerSample == 24)
        format->sample = SampleFormat::Int24;
    else if (tag == WAVE_FORMAT_PCM && wave->wBitsPerSample == 32)
        format->sample = SampleFormat::Int32;
    else
        return false;
    format->channels = wave->nChannels;
    format->rate = (int)wave->nSamplesPerSec;
    return format->channels >= 1 && format->channels <= 8 && format->rate >= 8000 &&
           format->rate <= 384000 && wave->nBlockAlign == format->blockAlign() &&
           wave->nAvgBytesPerSec == (DWORD)(format->rate * format->blockAlign());
}

void writeSample(BYTE* out, SampleFormat format, double value) {
    switch (format) {
    case SampleFormat::Float32: {
        float sample = (float)value;
        memcpy(out, &sample, sizeof sample);
        return;
    }
    case SampleFormat::Int16: {
        INT16 sample = (INT16)lround(std::max(-1.0, std::min(1.0, value)) * 32767.0);
        out[0] = (BYTE)(sample & 0xff);
        out[1] = (BYTE)((sample >> 8) & 0xff);
        return;
    }
    case SampleFormat::Int24: {
        INT32 sample = (INT32)lround(std::max(-1.0, std::min(1.0, value)) * 8388607.0);
        out[0] = (BYTE)(sample & 0xff);
        out[1] = (BYTE)((sample >> 8) & 0xff);
        out[2] = (BYTE)((sample >> 16) & 0xff);
        return;
    }
    case SampleFormat::Int32: {
        INT32 sample = (INT32)llround(std::max(-1.0, std::min(1.0, value)) * 2147483647.0);
        for (int i = 0; i < 4; ++i)
            out[i] = (BYTE)(((UINT32)sample >> (8 * i)) & 0xff);
        return;
    }
    }
}

double advance(double phase, double frequency, int rate, UINT64 frames) {
    return fmod(phase + fullTurn * frequency / rate * (double)frames, fullTurn);
}

std::vector<Client*> clients; // every client alive, under Lock

} // namespace

class Client final : public IAudioClient {
  public:
    Client(const std::string& id, bool render) : id_(id), render_(render) {
        Lock lock;
        addClient(this);
        clientsChanged();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAudioClient)) {
            *object = static_cast<IAudioClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            {
                Lock lock;
                removeClient(this);
                log("Release client %s", id_.c_str());
                clientsChanged();
            }
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags,
                                         REFERENCE_TIME duration, REFERENCE_TIME,
                                         const WAVEFORMATEX* wave, LPCGUID) override {
        if (!wave)
            return E_POINTER;
        Lock lock;
        const char* name = id_.c_str();
        if (initialized_) {
            log("Initialize %s again", name);
            return AUDCLNT_E_ALREADY_INITIALIZED;
        }
        if (FAILED(check())) {
            log("Initialize %s invalidated", name);
            return AUDCLNT_E_DEVICE_INVALIDATED;
        }
        if (control().exclusive.count(id_)) {
            log("Initialize %s exclusive-held", name);
            return AUDCLNT_E_DEVICE_IN_USE;
        }
        if (mode != AUDCLNT_SHAREMODE_SHARED) {
            log("Initialize %s exclusive refused", name);
            return AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
        }
        bool loopback = (flags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
        if (loopback && !render_) {
            log("Initialize %s shared loopback wrong-endpoint", name);
            return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        }
        if ((flags & ~knownStreamFlags) != 0 || duration < 0) {
            log("Initialize %s invalid 0x%lx", name, (unsigned long)flags);
            return E_INVALIDARG;
        }
        const StreamFormat mix = control().find(id_)->format;
        StreamFormat asked;
        if (!readFormat(wave, &asked) ||
            (asked != mix && !(flags & AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM))) {
            log("Initialize %s unsupported-format", name);
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        }
        initialized_ = true;
        loopback_ = loopback;
        eventDriven_ = (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0;
        format_ = asked;
        mixAtStart_ = mix;
        packetFrames_ = std::max(1, format_.rate / 100);
        // Shared mode gives at least what was asked, never less than a few periods; whole
        // packets, so that a full buffer is a number of them.
        UINT64 frames = (UINT64)(std::max(duration, 3 * defaultPeriod) * format_.rate / 10000000);
        bufferFrames_ = (UINT32)((frames + packetFrames_ - 1) / packetFrames_ * packetFrames_);
        log("Initialize %s shared%s%s", name, loopback ? " loopback" : "",
            eventDriven_ ? " event" : "");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        if (!frames)
            return E_POINTER;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (SUCCEEDED(usable))
            *frames = bufferFrames_;
        return usable;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        if (!latency)
            return E_POINTER;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (SUCCEEDED(usable))
            *latency = defaultPeriod;
        return usable;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
        if (!frames)
            return E_POINTER;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (SUCCEEDED(usable))
            *frames = (UINT32)std::min<UINT64>(waiting(), bufferFrames_);
        return usable;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* wave,
                                                WAVEFORMATEX** closest) override {
        if (!wave || (mode == AUDCLNT_SHAREMODE_SHARED && !closest))
            return E_POINTER;
        if (closest)
            *closest = nullptr;
        Lock lock;
        if (FAILED(check()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        StreamFormat asked;
        if (mode != AUDCLNT_SHAREMODE_SHARED || !readFormat(wave, &asked))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        const StreamFormat mix = control().find(id_)->format;
        if (asked == mix)
            return S_OK;
        *closest = formatForCaller(mix);
        return *closest ? S_FALSE : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** wave) override {
        if (!wave)
            return E_POINTER;
        *wave = nullptr;
        Lock lock;
        if (FAILED(check()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        const StreamFormat mix = control().find(id_)->format;
        log("GetMixFormat %s %s %d %d", id_.c_str(), formatName(mix.sample), mix.channels,
            mix.rate);
        *wave = formatForCaller(mix);
        return *wave ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* usual,
                                              REFERENCE_TIME* shortest) override {
        if (!usual && !shortest)
            return E_POINTER;
        Lock lock;
        if (FAILED(check()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (usual)
            *usual = defaultPeriod;
        if (shortest)
            *shortest = minimumPeriod;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable)) {
            log("Start %s %s", id_.c_str(),
                usable == AUDCLNT_E_DEVICE_INVALIDATED ? "invalidated" : "not-initialized");
            return usable;
        }
        if (running_)
            return AUDCLNT_E_NOT_STOPPED;
        if (eventDriven_ && !event_)
            return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        running_ = true;
        startedAt_ = counterNow();
        packetsLogged_ = false;
        log("Start %s", id_.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable))
            return usable;
        if (!running_)
            return S_FALSE;
        producedBefore_ = produced();
        running_ = false;
        log("Stop %s", id_.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable))
            return usable;
        if (running_)
            return AUDCLNT_E_NOT_STOPPED;
        if (packetOut_)
            return AUDCLNT_E_BUFFER_OPERATION_PENDING;
        delivered_ = producedBefore_;
        discontinuity_ = false;
        log("Reset %s", id_.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        if (!event)
            return E_INVALIDARG;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable))
            return usable;
        if (!eventDriven_)
            return AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED;
        event_ = event;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** object) override;

    // ---- What IAudioCaptureClient asks of its stream ----

    HRESULT nextPacketSize(UINT32* frames) {
        if (!frames)
            return E_POINTER;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable))
            return usable;
        *frames = packetOut_ || waiting() >= packetFrames_ ? packetFrames_ : 0;
        return S_OK;
    }
    HRESULT takePacket(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position,
                       UINT64* counterPosition) {
        if (!data || !frames || !flags)
            return E_POINTER;
        Lock lock;
        HRESULT usable = checkInitialized();
        if (FAILED(usable))
            return usable;
        if (packetOut_)
            return AUDCLNT_E_OUT_OF_ORDER;
        UINT64 backlog = waiting();
        if (backlog < packetFrames_) {
            *data = nullptr;
            *frames = 0;
            *flags = 0;
            return AUDCLNT_S_BUFFER_EMPTY;
        }
        Signal signal = control().signalOf(id_);
        fill(signal);
        packetOut_ = true;
        *data = packet_.data();
        *frames = packetFrames_;
        *flags = (discontinuity_ ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0) |
                 (signal.kind == Signal::FlagSilent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
        if (position)
            *position = delivered_;
        if (counterPosition) // when the packet's first frame was made, in 100 ns units
            *counterPosition =
                scaleTicks(counterNow(), 10000000) - backlog * 10000000 / (UINT64)format_.rate;
        return S_OK;
    }
    HRESULT releasePacket(UINT32 frames) {
        Lock lock;
        if (!packetOut_)
            return AUDCLNT_E_OUT_OF_ORDER;
        if (frames != 0 && frames != packetFrames_)
            return AUDCLNT_E_INVALID_SIZE;
        packetOut_ = false;
        if (frames == 0) // not taken: the same packet comes again
            return S_OK;
        delivered_ += frames;
        phase_ = phaseAfter_;
        otherPhase_ = otherPhaseAfter_;
        discontinuity_ = false;
        if (!packetsLogged_) {
            packetsLogged_ = true;
            log("First packet %s", id_.c_str());
        }
        return S_OK;
    }

    // ---- For the control's watcher (under Lock) ----

    // Ends the client for good when its device can no longer serve it, as Windows ends it.
    HRESULT check() {
        if (dead_)
            return AUDCLNT_E_DEVICE_INVALIDATED;
        const char* reason = invalidReason();
        if (!reason)
            return S_OK;
        dead_ = true;
        log("Client %s invalidated %s", id_.c_str(), reason);
        return AUDCLNT_E_DEVICE_INVALIDATED;
    }
    void signalEvent() {
        if (running_ && event_ && !dead_ && waiting() >= packetFrames_)
            SetEvent(event_);
    }

  private:
    ~Client() = default;

    const char* invalidReason() const {
        const Device* device = control().find(id_);
        if (!device)
            return "removed";
        switch (device->state) {
        case DEVICE_STATE_ACTIVE:
            break;
        case DEVICE_STATE_DISABLED:
            return "disabled";
        case DEVICE_STATE_UNPLUGGED:
            return "unplugged";
        default:
            return "notpresent";
        }
        if (control().invalidated.count(id_))
            return "invalidated";
        // Another program taking the device for itself ends the shared streams on it.
        if (initialized_ && control().exclusive.count(id_))
            return "exclusive";
        // So does a new format chosen in the sound settings.
        if (initialized_ && device->format != mixAtStart_)
            return "format-changed";
        return nullptr;
    }
    HRESULT checkInitialized() {
        HRESULT usable = check();
        if (SUCCEEDED(usable) && !initialized_)
            return AUDCLNT_E_NOT_INITIALIZED;
        return usable;
    }

    UINT64 produced() const {
        if (!running_)
            return producedBefore_;
        return producedBefore_ + scaleTicks(counterNow() - startedAt_, (UINT64)format_.rate);
    }
    void skip(UINT64 frames, const Signal& signal) {
        delivered_ += frames;
        phase_ = advance(phase_, signal.frequency, format_.rate, frames);
        otherPhase_ = advance(otherPhase_, signal.otherFrequency, format_.rate, frames);
    }
    // Frames made and not yet taken. A silent device makes none: Windows' loopback sends nothing
    // while nothing plays, and what comes after starts afresh. What overflows the buffer is lost.
    UINT64 waiting() {
        if (!initialized_ || !loopbackOrCapture())
            return 0;
        UINT64 made = produced();
        if (packetOut_)
            return made - delivered_;
        Signal signal = control().signalOf(id_);
        if (signal.kind == Signal::Silent) {
            skip(made - delivered_, signal);
            return 0;
        }
        UINT64 backlog = made - delivered_;
        if (backlog > bufferFrames_) {
            UINT64 lost = backlog - bufferFrames_;
            lost = (lost + packetFrames_ - 1) / packetFrames_ * packetFrames_;
            skip(lost, signal);
            discontinuity_ = true;
            backlog -= lost;
        }
        return backlog;
    }
    bool loopbackOrCapture() const { return loopback_ || !render_; }

    void fill(const Signal& signal) {
        const int channels = format_.channels;
        const int bytes = bytesPerSample(format_.sample);
        packet_.resize((size_t)packetFrames_ * format_.blockAlign());
        double step = fullTurn * signal.frequency / format_.rate;
        double otherStep = fullTurn * signal.otherFrequency / format_.rate;
        double phase = phase_;
        double otherPhase = otherPhase_;
        BYTE* out = packet_.data();
        for (UINT32 frame = 0; frame < packetFrames_; ++frame) {
            double first = signal.amplitude * sin(phase);
            double rest = signal.other * sin(otherPhase);
            for (int channel = 0; channel < channels; ++channel, out += bytes)
                writeSample(out, format_.sample, channel == 0 ? first : rest);
            phase = fmod(phase + step, fullTurn);
            otherPhase = fmod(otherPhase + otherStep, fullTurn);
        }
        phaseAfter_ = phase;
        otherPhaseAfter_ = otherPhase;
    }

    LONG references_ = 1;
    const std::string id_;
    const bool render_;
    bool dead_ = false;
    bool initialized_ = false;
    bool loopback_ = false;
    bool eventDriven_ = false;
    HANDLE event_ = nullptr;
    StreamFormat format_;     // the stream's, as the program asked for it
    StreamFormat mixAtStart_; // the device's when the stream was set up
    UINT32 packetFrames_ = 0;
    UINT32 bufferFrames_ = 0;
    bool running_ = false;
    LONGLONG startedAt_ = 0;
    UINT64 producedBefore_ = 0; // frames made before the latest Start
    UINT64 delivered_ = 0;      // frames taken or lost
    double phase_ = 0;          // of channel 0's tone at frame delivered_
    double otherPhase_ = 0;
    bool packetOut_ = false;
    bool discontinuity_ = false;
    bool packetsLogged_ = false;
    std::vector<BYTE> packet_;
    double phaseAfter_ = 0;
    double otherPhaseAfter_ = 0;
};

namespace {

// Holds its stream while the program holds it, as Windows' does: a program that keeps the capture
// client keeps the audio client alive.
class CaptureClient final : public IAudioCaptureClient {
  public:
    explicit CaptureClient(Client* stream) : stream_(stream) { stream_->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAudioCaptureClient)) {
            *object = static_cast<IAudioCaptureClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            stream_->Release();
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position,
                                        UINT64* counterPosition) override {
        return stream_->takePacket(data, frames, flags, position, counterPosition);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        return stream_->releasePacket(frames);
    }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        return stream_->nextPacketSize(frames);
    }

  private:
    LONG references_ = 1;
    Client* stream_;
};

} // namespace

HRESULT STDMETHODCALLTYPE Client::GetService(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    return guarded([&] {
        Lock lock;
        const char* name = id_.c_str();
        HRESULT usable = checkInitialized();
        if (FAILED(usable)) {
            log("GetService %s %s", name,
                usable == AUDCLNT_E_DEVICE_INVALIDATED ? "invalidated" : "not-initialized");
            return usable;
        }
        if (iid != __uuidof(IAudioCaptureClient)) {
            log("GetService %s unsupported %s", name, guidText(iid).c_str());
            return E_NOINTERFACE;
        }
        if (!loopbackOrCapture()) {
            log("GetService %s wrong-endpoint", name);
            return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        }
        // What Wine does: loopback streams set up, but no capture client for them.
        if (loopback_ && !control().loopback) {
            log("GetService %s refused", name);
            return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        }
        *object = static_cast<IAudioCaptureClient*>(new CaptureClient(this));
        log("GetService %s capture", name);
        return S_OK;
    });
}

void addClient(Client* client) {
    clients.push_back(client);
}

void removeClient(Client* client) {
    clients.erase(std::remove(clients.begin(), clients.end(), client), clients.end());
}

void invalidateClients() {
    for (Client* client : clients)
        client->check();
}

void clientsChanged() {
    log("live clients %u", (unsigned)clients.size());
}

void signalClientEvents() {
    for (Client* client : clients)
        client->signalEvent();
}

HRESULT createClient(const std::string& id, bool render, REFIID iid, void** object) {
    return guarded([&] {
        Client* client = new Client(id, render);
        HRESULT result = client->QueryInterface(iid, object);
        client->Release();
        return result;
    });
}

} // namespace fakeaudio
