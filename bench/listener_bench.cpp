// listener_bench: lumolisten.exe of one Windows build (LUMO_BUILD, as the end-to-end tests
// choose it) under Wine, listening to a private PulseAudio server's null sink while the cube's
// line is a pseudo-terminal. Two jobs:
//
//   listener_bench [--bursts N] [--cpu-seconds S] [--modes Star,Levels,NewStar]
//     For each mode: tone bursts written into the sink, and the time from each burst's first
//     write to the first byte of the first frame of the burst's level on the line; then the
//     share of one core the listener's process takes while a tone plays and while nothing does.
//
//   listener_bench --soak SECONDS [--mode M] [--clip FILE] [--sample-seconds S]
//                  [--warmup-seconds S] [--bound-kb K]
//     The clip, looped, for SECONDS; the listener's memory sampled all along, and every byte of
//     its line checked.
//
// Prints "listener ..." lines of key=value pairs for scripts/bench-report and scripts/soak.
// Exits 1 when a run could not be made, its line carried anything but whole frames between one
// start and one stop byte, no burst reached the cube, or (soak) the memory grew or frames were
// lost. Targets on lag and CPU are reported by bench-report, not enforced here.
#include <dirent.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cube_stream.h"
#include "fake_audio.h"
#include "harness.h"
#include "listener_session.h"
#include "sound_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using cubebytes::Bytes;
using listenertest::Listener;
using listenertest::ListenerFolder;
using listenertest::ModeTone;
using std::chrono::milliseconds;

const int kRate = 44100; // the sink's rate, so the listener's feed does not resample
const int kChannels = 2;
// Small chunks make the burst's start exact to a few milliseconds; the stream's target length
// keeps only a few of them queued ahead of it in the server.
const int kChunkFrames = 128;
const int kTargetFrames = 4 * kChunkFrames;
const int kBurstMs = 300; // several frames of even the slowest mode
const int kGapMs = 700;   // long enough for the cube to have gone dark again
const int kPort = 5;      // COM1 to COM4 may lead to a real UART

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    double at = fraction * double(values.size() - 1);
    size_t below = size_t(std::floor(at));
    size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - double(below));
}

std::string number(double value, int decimals = 1) {
    if (std::isnan(value))
        return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---- What is written into the sink ----

// One playback stream into a sink, written at real-time pace by a thread of its own: silence,
// a tone, a burst of tone on request, or a clip looped. pa_simple_write blocks while the
// stream's buffer is full, so each chunk is written about when the one before it starts to play.
class SinkWriter {
  public:
    SinkWriter(const std::string& server, const std::string& sink) : server_(server), sink_(sink) {
        thread_ = std::thread([this] { run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return connected_ || !error_.empty(); });
        if (!error_.empty()) {
            lock.unlock();
            thread_.join();
            throw std::runtime_error("cannot play into " + sink_ + ": " + error_);
        }
    }
    ~SinkWriter() { close(); }
    SinkWriter(const SinkWriter&) = delete;
    SinkWriter& operator=(const SinkWriter&) = delete;

    void silence() { set(Program::Silence); }
    void tone(double amplitude, double frequency) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            amplitude_ = amplitude;
            frequency_ = frequency;
        }
        set(Program::Tone);
    }
    // Interleaved 16-bit stereo at the sink's rate, over and over.
    void loop(std::vector<std::int16_t> samples) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clip_ = std::move(samples);
            clipAt_ = 0;
        }
        set(Program::Clip);
    }

    struct Burst {
        Clock::time_point written; // when the burst's first chunk was in the server's buffer
        double playbackMs = NAN;   // the stream's latency then, as the server reports it
    };
    // A burst of tone, then silence again; returns once the burst's first chunk is written.
    Burst burst(double amplitude, double frequency, int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        amplitude_ = amplitude;
        frequency_ = frequency;
        burstFrames_ = long(milliseconds) * kRate / 1000;
        burstStarted_ = false;
        program_ = Program::Burst;
        phase_ = 0;
        changed_.wait(lock, [this] { return burstStarted_ || !error_.empty(); });
        if (!error_.empty())
            throw std::runtime_error("playing into " + sink_ + ": " + error_);
        return burstInfo_;
    }

    // The stream goes: nothing plays into the sink any more.
    void close() {
        set(Program::Closed);
        if (thread_.joinable())
            thread_.join();
    }

  private:
    enum class Program { Silence, Tone, Burst, Clip, Closed };

    void set(Program program) {
        std::lock_guard<std::mutex> lock(mutex_);
        program_ = program;
        phase_ = 0;
    }

    void fail(const std::string& what, int code) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = what + ": " + pa_strerror(code);
        changed_.notify_all();
    }

    void run() {
        pa_sample_spec format = {PA_SAMPLE_S16LE, kRate, kChannels};
        const uint32_t frameBytes = kChannels * sizeof(std::int16_t);
        pa_buffer_attr attributes;
        attributes.maxlength = (uint32_t)-1;
        attributes.tlength = kTargetFrames * frameBytes;
        attributes.prebuf = (uint32_t)-1;
        attributes.minreq = kChunkFrames * frameBytes;
        attributes.fragsize = (uint32_t)-1;
        int code = 0;
        pa_simple* stream =
            pa_simple_new(server_.c_str(), "listener_bench", PA_STREAM_PLAYBACK, sink_.c_str(),
                          "bench", &format, nullptr, &attributes, &code);
        if (!stream)
            return fail("pa_simple_new", code);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connected_ = true;
            changed_.notify_all();
        }
        std::vector<std::int16_t> chunk(kChunkFrames * kChannels);
        for (;;) {
            bool burstStart = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (program_ == Program::Closed)
                    break;
                burstStart = program_ == Program::Burst && !burstStarted_ && phase_ == 0;
                fill(&chunk);
            }
            if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof chunk[0], &code) < 0) {
                fail("pa_simple_write", code);
                break;
            }
            if (burstStart) {
                Burst written;
                written.written = Clock::now();
                pa_usec_t latency = pa_simple_get_latency(stream, &code);
                if (latency != (pa_usec_t)-1)
                    written.playbackMs = double(latency) / 1000.0;
                std::lock_guard<std::mutex> lock(mutex_);
                burstInfo_ = written;
                burstStarted_ = true;
                changed_.notify_all();
            }
        }
        pa_simple_free(stream); // what is still queued is dropped, not played out
    }

    // The next chunk of whatever plays; the caller holds the lock.
    void fill(std::vector<std::int16_t>* chunk) {
        auto sample = [](double value) {
            return (std::int16_t)std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0));
        };
        for (int frame = 0; frame < kChunkFrames; ++frame) {
            double left = 0, right = 0;
            bool sounding =
                program_ == Program::Tone || (program_ == Program::Burst && phase_ < burstFrames_);
            if (sounding) {
                left = amplitude_ * std::sin(2 * M_PI * frequency_ * double(phase_) / kRate);
                right = left;
            }
            if (program_ == Program::Clip && !clip_.empty()) {
                (*chunk)[size_t(frame) * 2] = clip_[clipAt_];
                (*chunk)[size_t(frame) * 2 + 1] = clip_[clipAt_ + 1];
                clipAt_ = (clipAt_ + 2) % clip_.size();
                continue;
            }
            (*chunk)[size_t(frame) * 2] = sample(left);
            (*chunk)[size_t(frame) * 2 + 1] = sample(right);
            ++phase_;
        }
        if (program_ == Program::Burst && phase_ >= burstFrames_)
            program_ = Program::Silence;
    }

    std::string server_, sink_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::string error_;
    Program program_ = Program::Silence;
    long phase_ = 0; // frames of the current tone or burst so far
    double amplitude_ = 0, frequency_ = 0;
    long burstFrames_ = 0;
    bool burstStarted_ = false;
    Burst burstInfo_;
    std::vector<std::int16_t> clip_;
    size_t clipAt_ = 0;
};

// The samples of a 16-bit stereo WAV file at the sink's rate (what democlip writes).
std::vector<std::int16_t> readClip(const std::string& path) {
    std::string wav = harness::readFile(path);
    auto u32 = [&](size_t at) {
        return uint32_t((unsigned char)wav[at]) | uint32_t((unsigned char)wav[at + 1]) << 8 |
               uint32_t((unsigned char)wav[at + 2]) << 16 |
               uint32_t((unsigned char)wav[at + 3]) << 24;
    };
    auto u16 = [&](size_t at) {
        return unsigned((unsigned char)wav[at]) | unsigned((unsigned char)wav[at + 1]) << 8;
    };
    if (wav.size() < 12 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error(path + " is not a WAV file");
    bool formatOk = false;
    for (size_t at = 12; at + 8 <= wav.size();) {
        std::string id = wav.substr(at, 4);
        size_t size = u32(at + 4);
        size_t body = at + 8;
        if (id == "fmt " && body + 16 <= wav.size())
            formatOk = u16(body) == 1 && u16(body + 2) == kChannels && u32(body + 4) == kRate &&
                       u16(body + 14) == 16;
        if (id == "data") {
            if (!formatOk)
                throw std::runtime_error(path + " is not 16-bit stereo at 44.1 kHz");
            size = std::min(size, wav.size() - body) / 4 * 4;
            std::vector<std::int16_t> samples(size / 2);
            std::memcpy(samples.data(), wav.data() + body, size);
            return samples;
        }
        at = body + size + (size & 1);
    }
    throw std::runtime_error(path + " has no samples");
}

// ---- The processes measured ----

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The process whose environment holds `entry` exactly and whose name starts with `name`.
int findProcess(const std::string& entry, const std::string& name) {
    DIR* proc = opendir("/proc");
    if (!proc)
        return -1;
    int found = -1;
    while (dirent* item = readdir(proc)) {
        int pid = std::atoi(item->d_name);
        if (pid <= 0)
            continue;
        std::string base = "/proc/" + std::string(item->d_name);
        std::string cmdline = readText(base + "/cmdline");
        std::string first = cmdline.substr(0, cmdline.find('\0'));
        std::string program = first.substr(first.find_last_of("/\\") + 1);
        if (program.rfind(name, 0) != 0)
            continue;
        std::string environment = readText(base + "/environ");
        std::string wanted = entry + '\0';
        if (environment.rfind(wanted, 0) == 0 ||
            environment.find('\0' + wanted) != std::string::npos) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

// The CPU time a process (all its threads) has had, in clock ticks; -1 once it is gone.
long long cpuTicks(int pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(name + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // After the name: state is field 3, utime 14 and stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14)
            utime = std::atoll(field.c_str());
        if (index == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

// The CPU time of the threads Wine's own sound driver runs in a process (its PulseAudio main
// loop and timer, named "winepulse_..." and "wine_..."), in clock ticks: work that on Windows
// the audio service does outside the program.
long long soundDriverTicks(int pid) {
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    long long ticks = 0;
    while (dirent* item = readdir(dir)) {
        if (item->d_name[0] == '.')
            continue;
        std::string task = tasks + "/" + item->d_name;
        if (readText(task + "/comm").rfind("wine", 0) != 0)
            continue;
        std::string stat = readText(task + "/stat");
        size_t name = stat.rfind(')');
        if (name == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(name + 2));
        std::string field;
        for (int index = 3; index <= 15 && fields >> field; ++index)
            if (index == 14 || index == 15)
                ticks += std::atoll(field.c_str());
    }
    closedir(dir);
    return ticks;
}

// Percent of one core taken over `seconds`: by the listener's process in all, by Wine's sound
// driver's threads in it, and by the prefix's wineserver.
struct CpuShare {
    double process = NAN, soundDriver = NAN, wineserver = NAN;
};
CpuShare cpuShare(int pid, int wineserver, double seconds) {
    long long process = cpuTicks(pid), driver = soundDriverTicks(pid);
    long long server = wineserver > 0 ? cpuTicks(wineserver) : -1;
    Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double wall = msBetween(start, Clock::now()) / 1000.0;
    const double hertz = double(sysconf(_SC_CLK_TCK));
    auto share = [&](long long before, long long after) {
        return before < 0 || after < 0 ? NAN : 100.0 * double(after - before) / hertz / wall;
    };
    CpuShare measured;
    measured.process = share(process, cpuTicks(pid));
    measured.soundDriver = share(driver, soundDriverTicks(pid));
    measured.wineserver = share(server, wineserver > 0 ? cpuTicks(wineserver) : -1);
    return measured;
}

// Resident memory in kB: all of it, and the anonymous part (the heaps, where a leak grows).
struct Memory {
    long rssKb = -1, anonKb = -1;
};
Memory memoryOf(int pid) {
    Memory memory;
    std::istringstream status(readText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            memory.rssKb = std::atol(line.c_str() + 6);
        if (line.rfind("RssAnon:", 0) == 0)
            memory.anonKb = std::atol(line.c_str() + 8);
    }
    return memory;
}

// ---- The line ----

struct LineFrame {
    size_t offset;
    Bytes bytes;
};
struct ParsedLine {
    std::vector<LineFrame> frames;
    StreamCounts counts;
    bool startFirst = false, stopLast = false;
};

ParsedLine parseLine(const Bytes& line) {
    CubeStreamParser parser;
    std::vector<StreamEvent> events;
    parser.feed(line.data(), line.size(), events);
    parser.flush(events);
    ParsedLine parsed;
    for (const StreamEvent& event : events) {
        if (event.kind != StreamEventKind::Frame)
            continue;
        const unsigned char* at = line.data() + event.offset;
        parsed.frames.push_back({size_t(event.offset), Bytes(at, at + kCubeFrameSize)});
    }
    parsed.counts = parser.counts();
    parsed.startFirst = !line.empty() && line.front() == kCubeStartByte;
    parsed.stopLast = !line.empty() && line.back() == kCubeStopByte;
    return parsed;
}

std::string lineFields(const ParsedLine& line) {
    return "frames=" + std::to_string(line.counts.frames) +
           " bytes=" + std::to_string(line.counts.bytes) +
           " skipped=" + std::to_string(line.counts.skipped) +
           " rejected=" + std::to_string(line.counts.rejected) +
           " starts=" + std::to_string(line.counts.starts) +
           " stops=" + std::to_string(line.counts.stops) +
           " start_first=" + (line.startFirst ? "1" : "0") +
           " stop_last=" + (line.stopLast ? "1" : "0");
}

bool lineClean(const ParsedLine& line) {
    return line.counts.skipped == 0 && line.counts.rejected == 0 && line.counts.starts == 1 &&
           line.counts.stops == 1 && line.startFirst && line.stopLast;
}

// ---- A run of the listener ----

// A Wine prefix of the run's own, with a server of its own: the listener allows one copy per
// prefix, and a test of the listener running meanwhile in the build's shared prefix would end
// ours with its taskkill or take its COM port over.
class PrivatePrefix {
  public:
    PrivatePrefix() : use_(dir_.path()) {
        const harness::Build& build = harness::build();
        environment_ = {"WINEPREFIX=" + dir_.path(), "WINEDEBUG=-all",
                        "WINEDLLOVERRIDES=mscoree,mshtml=",
                        std::string("WINEARCH=") + (build.is32Bit() ? "win32" : "win64")};
        run({build.wine, "wineboot", "-i"});
        // wineboot's own server is not persistent: let it go before starting one that is.
        run({kWineserver, "-w"});
        run({kWineserver, "-p"});
        // Wine's services re-create the COM links when they start: before ours, not after.
        run({build.wine, "cmd.exe", "/c", "echo"});
        // Xvfb has no window manager, for which Wine would wait whenever a window goes.
        run({build.wine, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d",
             "N", "/f"});
        if (!harness::fileExists(dir_.file("system.reg")))
            throw std::runtime_error("wineboot made no prefix in " + dir_.path());
    }
    ~PrivatePrefix() { run({kWineserver, "-k"}); }
    PrivatePrefix(const PrivatePrefix&) = delete;
    PrivatePrefix& operator=(const PrivatePrefix&) = delete;

  private:
    static constexpr const char* kWineserver = "/usr/lib/wine/wineserver";
    void run(const std::vector<std::string>& argv) {
        harness::Process::Options options;
        options.environment = environment_;
        options.mergeStderr = true;
        harness::Process process(argv, options);
        process.closeInput();
        process.finish(std::chrono::seconds(120));
    }
    harness::TempDir dir_;
    harness::ScopedWinePrefix use_;
    std::vector<std::string> environment_;
};

// A private sound server whose default recording device is the speakers' monitor (Wine refuses
// loopback, so that is what the listener hears), a pty behind COM5, and the listener of the build.
class Session {
  public:
    Session(const std::string& mode, const std::string& tag) {
        marker_ = "LUMO_LISTENER_BENCH=" + std::to_string(getpid()) + "-" + tag;
        server_.setDefaultSource("speakers.monitor");
        pty_.linkAsCom(kPort);
        writer_ = std::make_unique<SinkWriter>("unix:" + server_.socketPath(), "speakers");
        std::vector<std::string> environment = server_.environment();
        environment.push_back(marker_);
        listener_ = std::make_unique<Listener>(
            folder_, std::vector<std::string>{"--mode", mode, "--port", std::to_string(kPort)},
            environment);
        if (!listener_->waitForLine("The cube on COM" + std::to_string(kPort) + " is lit") ||
            !listener_->waitForLine("Listening to"))
            throw std::runtime_error("the listener did not start: " + listener_->output());
        harness::waitUntil([&] { return (pid_ = findProcess(marker_, "lumolisten.exe")) > 0; });
        if (pid_ <= 0)
            throw std::runtime_error("cannot find the listener's process");
        wineserver_ = findProcess("WINEPREFIX=" + harness::winePrefix(), "wineserver");
    }

    SinkWriter& writer() { return *writer_; }
    harness::Pty& pty() { return pty_; }
    int pid() const { return pid_; }
    int wineserver() const { return wineserver_; }
    std::string output() { return listener_->output(); }

    // Ends the listener as the session's end would; its exit code.
    int quit() {
        int code = listener_->quit();
        writer_->close();
        return code;
    }

  private:
    harness::SoundServer server_;
    harness::Pty pty_;
    ListenerFolder folder_;
    std::string marker_;
    std::unique_ptr<SinkWriter> writer_;
    std::unique_ptr<Listener> listener_;
    int pid_ = -1;
    int wineserver_ = -1;
};

const ModeTone* toneOf(const std::string& mode) {
    for (const ModeTone& tone : listenertest::kModeTones)
        if (mode == tone.mode)
            return &tone;
    return nullptr;
}

struct BenchOptions {
    int bursts = 20;
    double cpuSeconds = 10;
    std::vector<std::string> modes = {"Star", "Levels", "NewStar"};
};

// One mode: the bursts, then the CPU share while a tone plays and while nothing does.
bool benchMode(const std::string& build, const ModeTone& tone, const BenchOptions& options) {
    std::fprintf(stderr, "listener, %s, %s: %d bursts, then %.0f s playing and %.0f s silent...\n",
                 build.c_str(), tone.mode, options.bursts, options.cpuSeconds, options.cpuSeconds);
    Session session(tone.mode, tone.mode);
    const Bytes dark = cubebytes::frameBytes(tone.pattern, 0);
    const Bytes lit =
        cubebytes::frameFor(tone.pattern, listenertest::toneLevel(tone.amplitude, tone.frequency));
    std::this_thread::sleep_for(milliseconds(1000)); // the first frames, all dark

    // A burst lands anywhere in the mode's clock, as music does.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> jitter(0, tone.delayMs - 1);
    std::vector<SinkWriter::Burst> bursts;
    for (int i = 0; i < options.bursts; ++i) {
        bursts.push_back(session.writer().burst(tone.amplitude, tone.frequency, kBurstMs));
        std::this_thread::sleep_for(milliseconds(kBurstMs + kGapMs + jitter(random)));
    }

    session.writer().tone(tone.amplitude, tone.frequency);
    std::this_thread::sleep_for(milliseconds(1000));
    CpuShare playing = cpuShare(session.pid(), session.wineserver(), options.cpuSeconds);
    session.writer().close();
    std::this_thread::sleep_for(milliseconds(1000));
    CpuShare silent = cpuShare(session.pid(), session.wineserver(), options.cpuSeconds);
    int exitCode = session.quit();

    harness::Pty& pty = session.pty();
    ParsedLine line = parseLine(pty.settledBytes());
    std::vector<double> lags, firstLights, playbacks;
    int notDarkBefore = 0, missed = 0;
    size_t next = 0; // the first frame not yet looked at
    for (const SinkWriter::Burst& burst : bursts) {
        auto arrival = [&](size_t frame) { return *pty.arrivalOf(line.frames[frame].offset); };
        while (next < line.frames.size() && arrival(next) < burst.written)
            ++next;
        // A burst counts only if the cube was dark when it was written.
        if (next == 0 || line.frames[next - 1].bytes != dark) {
            ++notDarkBefore;
            continue;
        }
        double firstLight = NAN, lag = NAN;
        for (size_t frame = next; frame < line.frames.size(); ++frame) {
            double after = msBetween(burst.written, arrival(frame));
            if (after > kBurstMs + kGapMs)
                break;
            if (std::isnan(firstLight) && line.frames[frame].bytes != dark)
                firstLight = after;
            if (line.frames[frame].bytes == lit) {
                lag = after;
                break;
            }
        }
        if (std::isnan(lag)) {
            ++missed;
            continue;
        }
        lags.push_back(lag);
        firstLights.push_back(firstLight);
        playbacks.push_back(burst.playbackMs);
    }

    const double target = 2.0 * tone.delayMs + 270.0 / 19200 * 1000;
    std::printf("listener lag build=%s mode=%s bursts=%d measured=%zu not_dark_before=%d "
                "missed=%d lag_median_ms=%s lag_p95_ms=%s lag_min_ms=%s lag_max_ms=%s "
                "first_light_median_ms=%s playback_median_ms=%s target_ms=%s\n",
                build.c_str(), tone.mode, options.bursts, lags.size(), notDarkBefore, missed,
                number(percentile(lags, 0.5)).c_str(), number(percentile(lags, 0.95)).c_str(),
                number(percentile(lags, 0)).c_str(), number(percentile(lags, 1)).c_str(),
                number(percentile(firstLights, 0.5)).c_str(),
                number(percentile(playbacks, 0.5)).c_str(), number(target, 2).c_str());
    std::printf("listener cpu build=%s mode=%s seconds=%s playing_pct=%s silent_pct=%s "
                "driver_playing_pct=%s driver_silent_pct=%s wineserver_playing_pct=%s "
                "wineserver_silent_pct=%s\n",
                build.c_str(), tone.mode, number(options.cpuSeconds, 0).c_str(),
                number(playing.process, 2).c_str(), number(silent.process, 2).c_str(),
                number(playing.soundDriver, 2).c_str(), number(silent.soundDriver, 2).c_str(),
                number(playing.wineserver, 2).c_str(), number(silent.wineserver, 2).c_str());
    std::printf("listener line build=%s mode=%s exit=%d %s\n", build.c_str(), tone.mode, exitCode,
                lineFields(line).c_str());
    std::fflush(stdout);
    return exitCode == 0 && lineClean(line) && !lags.empty();
}

struct SoakOptions {
    double seconds = 600;
    std::string mode = "Star";
    std::string clip;
    double sampleSeconds = 5;
    double warmupSeconds = 60;
    long boundKb = 256;
};

bool soak(const std::string& build, const SoakOptions& options) {
    const ModeTone* tone = toneOf(options.mode);
    std::vector<std::int16_t> clip = readClip(options.clip);
    std::fprintf(stderr,
                 "listener soak, %s, %s: the clip looped for %.0f s, memory sampled every %.0f s "
                 "after a warm-up of %.0f s...\n",
                 build.c_str(), tone->mode, options.seconds, options.sampleSeconds,
                 std::min(options.warmupSeconds, options.seconds / 4));
    // A short run (while trying things out) keeps most of its samples.
    const double warmup = std::min(options.warmupSeconds, options.seconds / 4);
    Session session(tone->mode, "soak");
    session.writer().loop(std::move(clip));
    Clock::time_point start = Clock::now();
    std::vector<Memory> samples;
    bool alive = true;
    for (double at = options.sampleSeconds; at <= options.seconds + 1e-9;
         at += options.sampleSeconds) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(at)));
        Memory memory = memoryOf(session.pid());
        if (memory.rssKb < 0) {
            alive = false;
            break;
        }
        if (at > warmup)
            samples.push_back(memory);
        std::printf("listener soak_sample build=%s seconds=%s rss_kb=%ld anon_kb=%ld\n",
                    build.c_str(), number(at, 0).c_str(), memory.rssKb, memory.anonKb);
        std::fflush(stdout);
    }
    double listened = msBetween(start, Clock::now()) / 1000.0;
    int exitCode = alive ? session.quit() : -1;
    ParsedLine line = parseLine(session.pty().settledBytes());

    Memory first = samples.empty() ? Memory() : samples.front();
    Memory last = samples.empty() ? Memory() : samples.back();
    Memory most;
    for (const Memory& memory : samples) {
        most.rssKb = std::max(most.rssKb, memory.rssKb);
        most.anonKb = std::max(most.anonKb, memory.anonKb);
    }
    bool flat = samples.size() >= 2 && most.rssKb - first.rssKb <= options.boundKb &&
                most.anonKb - first.anonKb <= options.boundKb;
    // The mode's pace held all along: no frame lost to a stall of the capture or the line.
    double nominal = listened * 1000.0 / tone->delayMs;
    bool paced = double(line.counts.frames) >= 0.9 * nominal;
    bool clean = alive && exitCode == 0 && lineClean(line) && paced && flat;
    std::printf("listener soak build=%s mode=%s seconds=%s warmup=%s every=%s samples=%zu "
                "rss_first_kb=%ld "
                "rss_last_kb=%ld rss_max_kb=%ld anon_first_kb=%ld anon_last_kb=%ld "
                "anon_max_kb=%ld bound_kb=%ld flat=%d frames_nominal=%.0f exit=%d %s result=%s\n",
                build.c_str(), tone->mode, number(listened, 0).c_str(), number(warmup, 0).c_str(),
                number(options.sampleSeconds, 0).c_str(), samples.size(), first.rssKb, last.rssKb,
                most.rssKb, first.anonKb, last.anonKb, most.anonKb, options.boundKb, flat ? 1 : 0,
                nominal, exitCode, lineFields(line).c_str(), clean ? "clean" : "FAILED");
    if (!alive)
        std::fprintf(stderr, "the listener ended early; it said:\n%s\n", session.output().c_str());
    return clean;
}

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr,
                 "listener_bench: %s\n"
                 "usage: listener_bench [--bursts N] [--cpu-seconds S] [--modes M,M,...]\n"
                 "       listener_bench --soak SECONDS --clip FILE [--mode M] "
                 "[--sample-seconds S] [--warmup-seconds S] [--bound-kb K]\n",
                 problem.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    BenchOptions bench;
    SoakOptions soakOptions;
    bool soaking = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            usage("missing value for " + option);
        std::string value = argv[++i];
        if (option == "--bursts")
            bench.bursts = std::atoi(value.c_str());
        else if (option == "--cpu-seconds")
            bench.cpuSeconds = std::atof(value.c_str());
        else if (option == "--modes") {
            bench.modes.clear();
            std::istringstream list(value);
            for (std::string mode; std::getline(list, mode, ',');)
                bench.modes.push_back(mode);
        } else if (option == "--soak") {
            soaking = true;
            soakOptions.seconds = std::atof(value.c_str());
        } else if (option == "--mode")
            soakOptions.mode = value;
        else if (option == "--clip")
            soakOptions.clip = value;
        else if (option == "--sample-seconds")
            soakOptions.sampleSeconds = std::atof(value.c_str());
        else if (option == "--warmup-seconds")
            soakOptions.warmupSeconds = std::atof(value.c_str());
        else if (option == "--bound-kb")
            soakOptions.boundKb = std::atol(value.c_str());
        else
            usage("unknown option " + option);
    }
    for (const std::string& mode :
         soaking ? std::vector<std::string>{soakOptions.mode} : bench.modes)
        if (!toneOf(mode))
            usage("no mode named " + mode);
    if (soaking &&
        (soakOptions.clip.empty() || soakOptions.seconds <= 0 || soakOptions.sampleSeconds <= 0))
        usage("--soak takes SECONDS above 0 and a --clip");

    const std::string build = harness::build().name;
    try {
        PrivatePrefix prefix;
        // A test that crashed may have left the prefix with a fake of Windows' audio.
        harness::restoreSystemAudio();
        if (soaking)
            return soak(build, soakOptions) ? 0 : 1;
        bool allRan = true;
        for (const std::string& mode : bench.modes)
            allRan = benchMode(build, *toneOf(mode), bench) && allRan;
        return allRan ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "listener_bench: %s\n", error.what());
        std::printf("listener error build=%s\n", build.c_str());
        return 1;
    }
}
