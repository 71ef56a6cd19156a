// A connection to the sound server through libpulse, which PulseAudio and PipeWire's pulse
// server both answer. The library runs its own thread (pa_threaded_mainloop); every question
// asked of the server here waits for the answer within a time limit, so a server that hangs
// never hangs the listener.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A source or sink as the server describes it.
struct SoundDevice {
    std::string name;        // "speakers.monitor"
    std::string description; // "Monitor of Speakers"
    int rate = 0;
    int channels = 0;
};

class PulseClient {
  public:
    // `news` is called on the library's thread whenever the server tells of a change (the
    // default, a sink or source come or gone) or the connection fails: a hint to look again.
    explicit PulseClient(std::function<void()> news = nullptr);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    enum Outcome {
        kAnswered,
        kNoServer, // nothing listens where the server would be (not started yet, or gone)
        kNoAnswer, // it took the connection or the question and gave no answer in time
    };
    // A connection anew; on failure none is left.
    Outcome connect(std::chrono::milliseconds limit);
    void disconnect();
    // Still connected: false once the server went away.
    bool connected();

    // The default output's sink name; empty when the server has none (PipeWire without its
    // session manager says "@DEFAULT_SINK@").
    Outcome defaultSink(std::string* name, std::chrono::milliseconds limit);
    // The sink of that name; `found` false when there is none.
    Outcome sinkNamed(const std::string& name, SoundDevice* sink, bool* found,
                      std::chrono::milliseconds limit);
    Outcome sources(std::vector<SoundDevice>* sources, std::chrono::milliseconds limit);

    // For the recorder, which makes its stream on this connection: the library's lock must be
    // held around every call on them (LoopLock).
    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    void tellNews();

  private:
    friend struct PulseAnswers;
    Outcome tryConnect(std::chrono::milliseconds limit);
    // One question at a time: `ask` starts the operation under the library's lock; its
    // callback calls answered(). Cancelled if no answer came within `limit`.
    Outcome ask(const std::function<pa_operation*()>& ask, std::chrono::milliseconds limit);
    void answered();
    static void contextState(pa_context* context, void* client);
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                            void* client);

    std::function<void()> news_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::mutex mutex_; // below the library's lock: taken inside callbacks, never around calls
    std::condition_variable changed_;
    bool answered_ = false;
};

// The library's lock for as long as it lives.
class LoopLock {
  public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};
