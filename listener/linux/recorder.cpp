#include "recorder.h"

#include <thread>

#include "sound_feed.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Fragments this long: the level follows the sound closely, and the server's whole graph keeps
// its pace (much smaller requests shrink PipeWire's quantum for every program).
static const pa_usec_t kFragmentUsec = 20000;

static long long nowMs() {
    return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

void Recorder::heard() {
    lastSoundMs_ = nowMs();
}

Clock::time_point Recorder::lastSound() const {
    return Clock::time_point(milliseconds(lastSoundMs_.load()));
}

// On the library's thread, under its lock: everything that waits is handed to the feed.
void Recorder::readable(pa_stream* stream, size_t, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    for (;;) {
        const void* bytes = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0)
            break;
        // A hole (no bytes for that stretch) is silence of its length.
        recorder->feed_->push(static_cast<const unsigned char*>(bytes), size / recorder->frameSize_,
                              bytes == nullptr);
        pa_stream_drop(stream);
        recorder->heard();
    }
}

void Recorder::stateChanged(pa_stream* stream, void* data) {
    Recorder* recorder = static_cast<Recorder*>(data);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        recorder->lost_ = true;
        recorder->client_->tellNews();
    }
}

Recorder::Outcome Recorder::open(const SoundDevice& source, milliseconds limit,
                                 std::string* error) {
    close();
    pa_sample_spec samples;
    samples.format = PA_SAMPLE_FLOAT32LE;
    samples.rate = (uint32_t)source.rate;
    samples.channels = (uint8_t)source.channels;
    MixFormat format;
    format.encoding = MixFormat::kFloat32;
    format.rate = source.rate;
    format.channels = source.channels;
    format.frameSize = 4 * source.channels;
    frameSize_ = (std::size_t)format.frameSize;
    lost_ = false;
    heard();
    // Before the stream can deliver anything.
    feed_->start(format);
    {
        LoopLock lock(client_->loop());
        if (!client_->context()) {
            *error = "no connection";
            return kFailed;
        }
        stream_ = pa_stream_new(client_->context(), "What lights the cube", &samples, nullptr);
        if (!stream_) {
            *error = pa_strerror(pa_context_errno(client_->context()));
            return kFailed;
        }
        pa_stream_set_state_callback(stream_, stateChanged, this);
        pa_stream_set_read_callback(stream_, readable, this);
        pa_buffer_attr buffer;
        buffer.maxlength = (uint32_t)-1;
        buffer.tlength = buffer.prebuf = buffer.minreq = (uint32_t)-1;
        buffer.fragsize = (uint32_t)pa_usec_to_bytes(kFragmentUsec, &samples);
        // Without DONT_MOVE the server moves a recorder whose source goes away to the default
        // source, usually the microphone; this way the stream ends and we choose again.
        pa_stream_flags_t flags =
            (pa_stream_flags_t)(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, source.name.c_str(), &buffer, flags) < 0) {
            *error = pa_strerror(pa_context_errno(client_->context()));
            close();
            return kFailed;
        }
    }
    Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        pa_stream_state_t state;
        int reason = 0;
        {
            LoopLock lock(client_->loop());
            state = pa_stream_get_state(stream_);
            if (!PA_STREAM_IS_GOOD(state))
                reason = pa_context_errno(client_->context());
        }
        if (state == PA_STREAM_READY)
            return kRecording;
        if (!PA_STREAM_IS_GOOD(state)) {
            close();
            if (reason == PA_ERR_NOENTITY)
                return kNoSuchSource;
            *error = pa_strerror(reason);
            return kFailed;
        }
        if (Clock::now() >= deadline) {
            close();
            return kNoAnswer;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
}

void Recorder::close() {
    if (!stream_)
        return;
    LoopLock lock(client_->loop());
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}
