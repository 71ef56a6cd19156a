// One recording stream from the sound server into the sound feed: float32 at the source's own
// rate and channels, in fragments of 20 ms. Its source going away ends it; the server never
// moves it elsewhere, so a monitor whose output is unplugged never becomes the microphone.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "pulse_client.h"

class SoundFeed;

class Recorder {
  public:
    Recorder(PulseClient* client, SoundFeed* feed) : client_(client), feed_(feed) {}
    ~Recorder() { close(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    enum Outcome {
        kRecording,
        kNoSuchSource,
        kNoAnswer, // the server did not start the stream within the limit
        kFailed,   // `error` says the server's reason
    };
    Outcome open(const SoundDevice& source, std::chrono::milliseconds limit, std::string* error);
    void close();
    bool isOpen() const { return stream_ != nullptr; }
    // The server ended the stream: its source went, or the connection did.
    bool lost() const { return lost_; }
    // When sound last came, or the stream started.
    std::chrono::steady_clock::time_point lastSound() const;

  private:
    static void readable(pa_stream* stream, size_t bytes, void* recorder);
    static void stateChanged(pa_stream* stream, void* recorder);
    void heard();

    PulseClient* client_;
    SoundFeed* feed_;
    pa_stream* stream_ = nullptr;
    std::size_t frameSize_ = 8;
    std::atomic<bool> lost_{false};
    std::atomic<long long> lastSoundMs_{0}; // on the steady clock
};
