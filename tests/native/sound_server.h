// A PC's speakers for the tests of programs that listen to what the PC plays: a private sound
// server (PulseAudio, or PipeWire with its pulse server) whose null sinks stand in for outputs.
// Under Wine each sink is an output named by its description, and its monitor a recording device
// "Monitor of <description>" that carries whatever is played into the sink; to the Linux
// listener the monitor is "<name>.monitor", described as "Monitor of <description>".
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace harness {

// An output of the stand-in PC. Its monitor, the source that hears it, is "<name>.monitor".
struct Sink {
    std::string name; // PulseAudio's name, e.g. "speakers"
    int rate = 44100; // Wine's mix format for it and its monitor: this rate, 2 channels, float
    std::string description; // what Windows calls it, e.g. "Speakers"
};

// The recording device Wine makes of a sink's monitor.
inline std::string wineMonitorName(const std::string& description) {
    return "Monitor of " + description;
}

// Which server answers the clients: PulseAudio itself, or PipeWire with its session manager
// (WirePlumber, on a D-Bus session bus of its own) and its pulse server, as desktops run now.
enum class SoundServerKind { PulseAudio, PipeWire };
const char* soundServerName(SoundServerKind kind); // "PulseAudio", "PipeWire"
// Why that server cannot run here (its programs are not installed); empty when it can.
std::string soundServerMissing(SoundServerKind kind);

// Runs as long as it lives, with nothing of the machine's own sound system involved: its socket,
// configuration and state lie in a folder of its own, removed at the end. Anything that fails
// (the server does not come up, pactl refuses) fails the test with the server's or pactl's words.
class SoundServer {
  public:
    enum When { kStartNow, kStartLater };
    explicit SoundServer(const std::vector<Sink>& sinks = {{"speakers", 44100, "Speakers"}},
                         SoundServerKind kind = SoundServerKind::PulseAudio, When when = kStartNow);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The server comes (again, after stop()) with its first sinks, or goes as if it crashed;
    // its clients find it by the same environment() all along.
    void start();
    void stop();
    // It stops answering without going (SIGSTOP), and goes on again.
    void freeze();
    void thaw();
    SoundServerKind kind() const { return kind_; }

    // NAME=VALUE entries that lead a child process's PulseAudio client (Wine's audio driver,
    // paplay) to this server: Process::Options::environment takes them as they are.
    std::vector<std::string> environment() const;
    const std::string& socketPath() const { return socket_; }

    // pactl against this server; its output. A failure fails the test and returns "".
    std::string pactl(const std::vector<std::string>& args);
    int loadSink(const std::string& name, int rate, const std::string& description); // module
    void unloadModule(int index);
    void setDefaultSink(const std::string& name);
    void setDefaultSource(const std::string& name); // e.g. "speakers.monitor"

    // Plays a WAV file into `sink` in the background (paplay, 20 ms of latency) until it ends,
    // stopPlaying() is called or the server goes. Several may play at once.
    void play(const std::string& sink, const std::string& wavPath);
    // True once a stream plays into `sink`: from then on its monitor carries the sound.
    bool waitUntilPlaying(const std::string& sink,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits for every file play() started to end; false (and the test fails) if one did not
    // end within `timeout` or paplay reported an error.
    bool waitForPlaybackEnd(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void stopPlaying();

    std::string log() const; // what the server's programs said, for a failure message

  private:
    std::string moduleArguments(const Sink& sink) const;
    std::string sinkIndex(const std::string& name) const; // "" when there is no such sink
    bool answers() const;
    void startPulseAudio();
    void startPipeWire();
    // A program of the server's in the background, its output into `log` in the folder.
    void spawn(const std::vector<std::string>& argv, const std::string& log);
    // Waits for `ready` while every program spawned runs; throws with their logs otherwise.
    void waitFor(const std::function<bool()>& ready, const std::string& what);

    TempDir dir_;
    std::string socket_;
    std::vector<Sink> sinks_;
    SoundServerKind kind_;
    std::vector<int> pids_; // in the order started
    std::vector<std::string> logs_;
    std::vector<std::unique_ptr<Process>> players_;
};

// A 16-bit PCM WAV file: channel 0 a sine of `frequency` Hz at `amplitude` (1.0 the full scale;
// 0 digital silence), every other channel a louder one (0.9) of another pitch, 440 Hz (880 Hz
// when the tone is itself 440 Hz), so a program that reads the wrong channel shows it. Returns
// `path`.
std::string writeToneWav(const std::string& path, int rate, int channels, double seconds,
                         double amplitude, double frequency);

// A 16-bit stereo PCM WAV file with `samples` (-1 to 1) on both channels, so the mix is the
// signal itself. Returns `path`.
std::string writeSignalWav(const std::string& path, int rate, const std::vector<float>& samples);

} // namespace harness
