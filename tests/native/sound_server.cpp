#include "sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cctype>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "wav_builder.h"

extern char** environ;

namespace harness {

using Clock = std::chrono::steady_clock;

namespace {

const char kPulseaudio[] = "/usr/bin/pulseaudio";
const char kPactl[] = "/usr/bin/pactl";
const char kPaplay[] = "/usr/bin/paplay";
const char kPipewire[] = "/usr/bin/pipewire";
const char kWireplumber[] = "/usr/bin/wireplumber";
const char kPipewirePulse[] = "/usr/bin/pipewire-pulse";
const char kDbusDaemon[] = "/usr/bin/dbus-daemon";

// PulseAudio's module arguments have a quoting of their own; names and descriptions that need
// none of it keep the configuration file and pactl's arguments the same.
void checkSink(const Sink& sink) {
    bool nameOk = !sink.name.empty() && std::all_of(sink.name.begin(), sink.name.end(), [](char c) {
        return isalnum((unsigned char)c) || c == '_' || c == '-' || c == '.';
    });
    if (!nameOk)
        throw std::invalid_argument("a sink name of letters, digits, '_', '-' and '.': '" +
                                    sink.name + "'");
    if (sink.description.find_first_of("'\"\\\n") != std::string::npos)
        throw std::invalid_argument("a sink description without quotes or backslashes: '" +
                                    sink.description + "'");
    if (sink.rate <= 0)
        throw std::invalid_argument("a sink rate above 0 for " + sink.name);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string word; in >> word;)
        result.push_back(word);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// pactl quietly: whether it succeeded, and what it said.
bool runPactl(const std::vector<std::string>& environment, const std::vector<std::string>& args,
              std::string* output) {
    Process::Options options;
    options.environment = environment;
    options.mergeStderr = true;
    std::vector<std::string> argv = {kPactl};
    argv.insert(argv.end(), args.begin(), args.end());
    Process pactl(argv, options);
    int code = pactl.finish(std::chrono::seconds(20));
    *output = pactl.output();
    return code == 0;
}

} // namespace

const char* soundServerName(SoundServerKind kind) {
    return kind == SoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
}

std::string soundServerMissing(SoundServerKind kind) {
    std::vector<std::string> programs = {kPactl, kPaplay};
    if (kind == SoundServerKind::PulseAudio)
        programs.push_back(kPulseaudio);
    else
        programs.insert(programs.end(), {kPipewire, kWireplumber, kPipewirePulse, kDbusDaemon});
    for (const std::string& program : programs)
        if (access(program.c_str(), X_OK) != 0)
            return program + " is not installed (scripts/ensure-deps --tests installs it)";
    return "";
}

SoundServer::SoundServer(const std::vector<Sink>& sinks, SoundServerKind kind, When when)
    : socket_(dir_.path() + "/pulse/native"), sinks_(sinks), kind_(kind) {
    if (sinks.empty())
        throw std::invalid_argument("a sound server needs at least one sink");
    for (size_t i = 0; i < sinks.size(); ++i) {
        checkSink(sinks[i]);
        for (size_t j = 0; j < i; ++j)
            if (sinks[j].name == sinks[i].name) // the server would call the second "<name>.2"
                throw std::invalid_argument("two sinks named " + sinks[i].name);
    }
    std::string missing = soundServerMissing(kind);
    if (!missing.empty())
        throw std::runtime_error(missing);
    mkdir(dir_.file("home").c_str(), 0700);
    if (when == kStartNow)
        start();
}

SoundServer::~SoundServer() {
    stopPlaying();
    stop();
}

void SoundServer::start() {
    if (!pids_.empty())
        return;
    if (kind_ == SoundServerKind::PulseAudio)
        startPulseAudio();
    else
        startPipeWire();
}

void SoundServer::startPulseAudio() {
    // Anonymous access: the clients (Wine's audio driver in a test's Windows program, pactl,
    // paplay) look for no cookie in their HOME, which is not the server's.
    std::string config = "load-module module-native-protocol-unix auth-anonymous=1\n";
    for (const Sink& sink : sinks_)
        config += "load-module module-null-sink " + moduleArguments(sink) + "\n";
    // The first sink is the PC's default output and its monitor the default recording device,
    // rather than whichever of equal sinks the server would pick.
    config += "set-default-sink " + sinks_.front().name + "\n";
    config += "set-default-source " + sinks_.front().name + ".monitor\n";
    const std::string configPath = dir_.file("server.pa");
    writeFile(configPath, config);
    spawn({kPulseaudio, "--daemonize=no", "--system=no", "--exit-idle-time=-1", "--disallow-exit",
           "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-target=stderr", "-n",
           "-F", configPath},
          "server.log");
    waitFor([this] { return answers(); }, "the sound server to answer");
}

// As a desktop session runs it: the graph, the session manager that links streams and keeps
// the defaults (it wants a session bus), and the pulse server our clients talk to. The sinks
// come as a user's would, through the pulse server's module-null-sink.
void SoundServer::startPipeWire() {
    // No Bluetooth in a test's session: WirePlumber's Bluetooth part wants logind, and quits
    // where a machine (a container, a chroot) runs none. The session's own configuration,
    // in the server's HOME, turns it off before it is enabled.
    const std::string bluetooth = dir_.file("home/.config/wireplumber/bluetooth.lua.d");
    std::filesystem::create_directories(bluetooth);
    writeFile(bluetooth + "/51-no-bluetooth.lua", "bluez_monitor.enabled = false\n");
    const std::string bus = dir_.file("bus");
    std::remove(bus.c_str());
    spawn({kDbusDaemon, "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus},
          "dbus.log");
    waitFor([&] { return fileExists(bus); }, "the session bus");
    spawn({kPipewire}, "pipewire.log");
    waitFor([&] { return fileExists(dir_.file("pipewire-0")); }, "pipewire's socket");
    spawn({kWireplumber}, "wireplumber.log");
    spawn({kPipewirePulse}, "pipewire-pulse.log");
    waitFor([this] { return answers(); }, "pipewire-pulse to answer");
    for (const Sink& sink : sinks_) {
        pactl({"load-module", "module-null-sink", moduleArguments(sink)});
        waitFor([&] { return !sinkIndex(sink.name).empty(); }, "the sink " + sink.name);
    }
    // WirePlumber keeps the defaults in a metadata object of its own: until it has made it,
    // the pulse server refuses to set them ("Not supported") and names none.
    const std::string sink = sinks_.front().name;
    waitFor(
        [&] {
            std::string said;
            return runPactl(environment(), {"set-default-sink", sink}, &said) &&
                   runPactl(environment(), {"set-default-source", sink + ".monitor"}, &said) &&
                   runPactl(environment(), {"info"}, &said) &&
                   said.find("Default Sink: " + sink + "\n") != std::string::npos &&
                   said.find("Default Source: " + sink + ".monitor\n") != std::string::npos;
        },
        "WirePlumber to take the default sink and source");
}

void SoundServer::spawn(const std::vector<std::string>& argv, const std::string& log) {
    // The server's state (its cookie above all) goes into its own HOME, never the user's. Without
    // DISPLAY it does not try to start a D-Bus session bus on the tests' X server, and without
    // the tests' own PULSE_ settings it cannot be pointed at another server's files.
    std::vector<std::string> environment = {"HOME=" + dir_.file("home"),
                                            "XDG_RUNTIME_DIR=" + dir_.path()};
    if (kind_ == SoundServerKind::PipeWire)
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_.file("bus"));
    for (char** variable = environ; *variable; ++variable) {
        std::string entry = *variable;
        std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "XDG_RUNTIME_DIR" && name != "XDG_CONFIG_HOME" &&
            name != "DISPLAY" && name != "DBUS_SESSION_BUS_ADDRESS" &&
            name.rfind("PULSE_", 0) != 0 && name.rfind("PIPEWIRE_", 0) != 0)
            environment.push_back(entry);
    }
    std::vector<std::string> args = argv;
    std::vector<char*> argPointers, envPointers;
    for (std::string& arg : args)
        argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);
    for (std::string& entry : environment)
        envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);

    const std::string logPath = dir_.file(log);
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd < 0 || nothing < 0)
        throw std::runtime_error("cannot open " + logPath + " or /dev/null");
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A test program that dies must not leave a server behind that never exits by itself.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        dup2(nothing, STDIN_FILENO);
        dup2(logFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        execve(argPointers[0], argPointers.data(), envPointers.data());
        _exit(127);
    }
    close(logFd);
    close(nothing);
    if (pid < 0)
        throw std::runtime_error("fork failed");
    pids_.push_back(pid);
    if (std::find(logs_.begin(), logs_.end(), log) == logs_.end())
        logs_.push_back(log);
}

void SoundServer::waitFor(const std::function<bool()>& ready, const std::string& what) {
    int exited = -1;
    bool up = waitUntil(
        [&] {
            for (int pid : pids_)
                if (waitpid(pid, nullptr, WNOHANG) == pid) {
                    exited = pid;
                    return true;
                }
            return ready();
        },
        std::chrono::seconds(20));
    if (up && exited < 0)
        return;
    if (exited >= 0)
        pids_.erase(std::find(pids_.begin(), pids_.end(), exited));
    std::string said = log();
    stop();
    throw std::runtime_error(
        std::string(soundServerName(kind_)) + ": " +
        (exited >= 0 ? "a program of the server exited" : "no sign within 20 s") +
        " while waiting for " + what + ". It said:\n" + said);
}

// A null sink that nobody listens to renders up to 2 s ahead. With rewinds, the first recorder
// of its monitor then waited 1 to 2 s for its first packet, and so would a test of a program
// that starts to listen; without them, packets come at once.
std::string SoundServer::moduleArguments(const Sink& sink) const {
    return "sink_name=" + sink.name + " rate=" + std::to_string(sink.rate) +
           " norewinds=1 sink_properties=\"device.description='" + sink.description + "'\"";
}

// The last started first: the pulse server before the graph it talks to.
void SoundServer::stop() {
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        kill(*pid, SIGCONT); // a frozen one must be able to take its end
        kill(*pid, SIGTERM);
        bool ended = waitUntil([&] { return waitpid(*pid, nullptr, WNOHANG) == *pid; },
                               std::chrono::seconds(10));
        if (!ended) {
            kill(*pid, SIGKILL);
            waitpid(*pid, nullptr, 0);
        }
    }
    pids_.clear();
}

void SoundServer::freeze() {
    for (int pid : pids_)
        kill(pid, SIGSTOP);
}

void SoundServer::thaw() {
    for (int pid : pids_)
        kill(pid, SIGCONT);
}

std::vector<std::string> SoundServer::environment() const {
    return {"PULSE_SERVER=unix:" + socket_, "XDG_RUNTIME_DIR=" + dir_.path()};
}

std::string SoundServer::log() const {
    std::string said;
    for (const std::string& log : logs_)
        said += "--- " + log + "\n" + readFile(dir_.file(log));
    return said;
}

bool SoundServer::answers() const {
    std::string ignored;
    return runPactl(environment(), {"info"}, &ignored);
}

std::string SoundServer::pactl(const std::vector<std::string>& args) {
    std::string output;
    if (!runPactl(environment(), args, &output)) {
        std::string command = "pactl";
        for (const std::string& arg : args)
            command += " " + arg;
        ADD_FAILURE() << command << " failed: " << output;
        return "";
    }
    return output;
}

std::string SoundServer::sinkIndex(const std::string& name) const {
    std::string sinks;
    if (!runPactl(environment(), {"list", "short", "sinks"}, &sinks))
        return "";
    for (const std::string& line : lines(sinks)) {
        std::vector<std::string> columns = words(line);
        if (columns.size() >= 2 && columns[1] == name)
            return columns[0];
    }
    return "";
}

int SoundServer::loadSink(const std::string& name, int rate, const std::string& description) {
    Sink sink{name, rate, description};
    checkSink(sink);
    if (!sinkIndex(name).empty()) { // the server would call the new one "<name>.2"
        ADD_FAILURE() << "there is a sink named " << name << " already";
        return -1;
    }
    // pactl joins its arguments with spaces into the module's argument string.
    std::string output = pactl({"load-module", "module-null-sink", moduleArguments(sink)});
    std::vector<std::string> said = words(output);
    if (said.empty())
        return -1;
    // PipeWire's pulse server answers before the sink is there.
    if (!waitUntil([&] { return !sinkIndex(name).empty(); }, std::chrono::seconds(20)))
        ADD_FAILURE() << "the sink " << name << " did not appear";
    try {
        return std::stoi(said.back());
    } catch (const std::exception&) {
        ADD_FAILURE() << "pactl load-module printed no module index: " << output;
        return -1;
    }
}

void SoundServer::unloadModule(int index) {
    pactl({"unload-module", std::to_string(index)});
}

void SoundServer::setDefaultSink(const std::string& name) {
    pactl({"set-default-sink", name});
}

void SoundServer::setDefaultSource(const std::string& name) {
    pactl({"set-default-source", name});
}

void SoundServer::play(const std::string& sink, const std::string& wavPath) {
    Process::Options options;
    options.environment = environment();
    options.mergeStderr = true;
    players_.push_back(std::make_unique<Process>(
        std::vector<std::string>{kPaplay, "--latency-msec=20", "-d", sink, wavPath}, options));
}

bool SoundServer::waitUntilPlaying(const std::string& sink, std::chrono::milliseconds timeout) {
    return waitUntil(
        [&] {
            std::string index = sinkIndex(sink), inputs;
            if (index.empty() ||
                !runPactl(environment(), {"list", "short", "sink-inputs"}, &inputs))
                return false;
            for (const std::string& line : lines(inputs)) {
                std::vector<std::string> columns = words(line);
                if (columns.size() >= 2 && columns[1] == index)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return false;
        },
        timeout);
}

bool SoundServer::waitForPlaybackEnd(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    bool allPlayed = true;
    for (std::unique_ptr<Process>& player : players_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int code = player->finish(std::max(left, std::chrono::milliseconds(0)));
        if (code != 0) {
            ADD_FAILURE() << player->description() << " ended with " << code << ": "
                          << player->output();
            allPlayed = false;
        }
    }
    players_.clear();
    return allPlayed;
}

void SoundServer::stopPlaying() {
    for (std::unique_ptr<Process>& player : players_) {
        player->signal(SIGTERM);
        player->finish(std::chrono::seconds(10));
    }
    players_.clear();
}

std::string writeToneWav(const std::string& path, int rate, int channels, double seconds,
                         double amplitude, double frequency) {
    const double pi = std::acos(-1.0);
    const double otherFrequency = std::fabs(frequency - 440.0) < 1.0 ? 880.0 : 440.0;
    auto sample = [](double value) {
        return (std::int16_t)std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0));
    };
    const long frames = std::lround(seconds * rate);
    std::vector<std::int16_t> samples;
    samples.reserve((size_t)frames * channels);
    for (long frame = 0; frame < frames; ++frame) {
        double t = (double)frame / rate;
        samples.push_back(sample(amplitude * std::sin(2 * pi * frequency * t)));
        for (int channel = 1; channel < channels; ++channel)
            samples.push_back(sample(0.9 * std::sin(2 * pi * otherFrequency * t)));
    }
    wavtest::Bytes wav = wavtest::pcmWav(channels, rate, 16, wavtest::samples16(samples));
    writeFile(path, std::string(wav.begin(), wav.end()));
    return path;
}

std::string writeSignalWav(const std::string& path, int rate, const std::vector<float>& samples) {
    std::vector<std::int16_t> both;
    both.reserve(2 * samples.size());
    for (float value : samples) {
        auto sample = (std::int16_t)std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0));
        both.push_back(sample);
        both.push_back(sample);
    }
    wavtest::Bytes wav = wavtest::pcmWav(2, rate, 16, wavtest::samples16(both));
    writeFile(path, std::string(wav.begin(), wav.end()));
    return path;
}

} // namespace harness
