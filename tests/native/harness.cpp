#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cube_stream.h"

namespace harness {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- The build under test ----

static Build chooseBuild() {
    const char* chosen = getenv("LUMO_BUILD");
    Build build;
    build.name = chosen && std::string(chosen) == "win32" ? "win32" : "win64";
    const std::string root = LUMO_SOURCE_DIR;
    build.wine = build.is32Bit() ? "/usr/lib/wine/wine" : "/usr/lib/wine/wine64";
    build.prefix = root + "/build/wineprefix-" + build.name;
    build.bin = root + "/build/" + build.name + "/bin";
    // The 32-bit DLLs under test are the files in dist/, byte for byte what a user installs.
    build.dist = build.is32Bit() ? root + "/dist" : build.bin;
    return build;
}

const Build& build() {
    static const Build chosen = chooseBuild();
    return chosen;
}

static std::string prefixInUse;

std::string winePrefix() {
    return prefixInUse.empty() ? build().prefix : prefixInUse;
}

ScopedWinePrefix::ScopedWinePrefix(const std::string& prefix) : previous_(prefixInUse) {
    prefixInUse = prefix;
}

ScopedWinePrefix::~ScopedWinePrefix() {
    prefixInUse = previous_;
}

// ---- Files ----

TempDir::TempDir() {
    char pattern[] = "/tmp/lumo-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void copyFile(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> readLines(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::string windowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// ---- Pty ----

Pty::Pty() {
    std::string error = openPtyPair(&pair_);
    if (!error.empty())
        throw std::runtime_error(error);
    drainer_ = std::thread([this] { drain(); });
}

Pty::~Pty() {
    for (const std::string& link : links_) {
        std::error_code ignored;
        if (fs::read_symlink(link, ignored) == pair_.slavePath)
            fs::remove(link, ignored);
    }
    closeMaster();
    closePtyPair(&pair_);
}

void Pty::readWaiting() {
    unsigned char buffer[4096];
    for (;;) {
        pollfd readable = {pair_.master, POLLIN, 0};
        if (poll(&readable, 1, 0) <= 0)
            return;
        ssize_t count = read(pair_.master, buffer, sizeof buffer);
        if (count <= 0)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.insert(bytes_.end(), buffer, buffer + count);
        reads_.emplace_back(bytes_.size(), Clock::now());
        arrived_.notify_all();
    }
}

void Pty::drain() {
    while (!stopping_) {
        pollfd readable = {pair_.master, POLLIN, 0};
        if (paused_ || poll(&readable, 1, 20) <= 0 || !(readable.revents & POLLIN)) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        readWaiting();
    }
}

std::string lineEvents(const Bytes& line) {
    CubeStreamParser parser;
    std::vector<StreamEvent> events;
    parser.feed(line.data(), line.size(), events);
    parser.flush(events);
    std::string letters;
    for (const StreamEvent& event : events) {
        switch (event.kind) {
        case StreamEventKind::Start:
            letters += 'L';
            break;
        case StreamEventKind::Stop:
            letters += 'N';
            break;
        case StreamEventKind::Frame:
            letters += 'F';
            break;
        case StreamEventKind::Rejected:
            letters += 'R';
            break;
        case StreamEventKind::Skipped:
            letters += 's';
            break;
        }
    }
    return letters;
}

void Pty::linkAsCom(int number) {
    linkAt(winePrefix() + "/dosdevices/com" + std::to_string(number));
}

void Pty::linkAt(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::create_symlink(pair_.slavePath, path);
    links_.push_back(path);
}

Bytes Pty::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

std::optional<Clock::time_point> Pty::arrivalOf(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [end, at] : reads_)
        if (index < end)
            return at;
    return std::nullopt;
}

Bytes Pty::settledBytes() const {
    auto waiting = [this] {
        pollfd readable = {pair_.master, POLLIN, 0};
        return pair_.master >= 0 && poll(&readable, 1, 0) > 0 && (readable.revents & POLLIN);
    };
    // The drainer may hold bytes it has read but not yet stored; it stores them long before
    // this second look.
    waitUntil([&] {
        if (waiting())
            return false;
        std::this_thread::sleep_for(milliseconds(50));
        return !waiting();
    });
    return bytes();
}

bool Pty::waitForBytes(size_t count, milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
}

void Pty::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.clear();
    reads_.clear();
}

void Pty::pauseDraining() {
    paused_ = true;
}

void Pty::resumeDraining() {
    paused_ = false;
}

void Pty::write(const Bytes& bytes) {
    ASSERT_EQ((ssize_t)bytes.size(), ::write(pair_.master, bytes.data(), bytes.size()));
}

void Pty::closeSlave() {
    if (pair_.slave >= 0)
        close(pair_.slave);
    pair_.slave = -1;
}

void Pty::closeMaster() {
    stopping_ = true;
    if (drainer_.joinable())
        drainer_.join();
    if (pair_.master >= 0) {
        readWaiting();
        close(pair_.master);
    }
    pair_.master = -1;
}

termios Pty::slaveSettings() const {
    termios settings{};
    tcgetattr(pair_.slave, &settings);
    return settings;
}

void Pty::setSlaveSettings(const termios& settings) {
    ASSERT_EQ(0, tcsetattr(pair_.slave, TCSANOW, &settings));
}

// ---- Process ----

Process::Process(const std::vector<std::string>& argv, const Options& options) {
    ::signal(SIGPIPE, SIG_IGN); // a program that died must fail the test, not kill it
    for (const std::string& arg : argv)
        description_ += (description_.empty() ? "" : " ") + arg;
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(options.stdoutFd >= 0 ? options.stdoutFd : fromChild[1], STDOUT_FILENO);
        if (options.mergeStderr)
            dup2(STDOUT_FILENO, STDERR_FILENO);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        for (const std::string& variable : options.environment)
            putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
}

Process::~Process() {
    if (pid_ > 0)
        finish(milliseconds(10000));
    if (out_ >= 0)
        close(out_);
    if (in_ >= 0)
        close(in_);
}

void Process::send(const std::string& text) {
    if (in_ < 0 || write(in_, text.data(), text.size()) != (ssize_t)text.size())
        ADD_FAILURE() << "cannot send '" << text << "' to " << description_;
}

void Process::closeInput() {
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

void Process::signal(int number) {
    if (pid_ > 0)
        ::kill(pid_, number);
}

bool Process::readMore(int waitMs) {
    pollfd readable = {out_, POLLIN, 0};
    if (out_ < 0 || poll(&readable, 1, waitMs) <= 0)
        return false;
    char buffer[4096];
    ssize_t count = read(out_, buffer, sizeof buffer);
    if (count <= 0) { // the program closed its output
        close(out_);
        out_ = -1;
        return false;
    }
    pending_.append(buffer, count);
    output_.append(buffer, count);
    return true;
}

bool Process::readLine(std::string* line, Clock::time_point deadline) {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            pending_.erase(0, end + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || out_ < 0)
            return false;
        readMore((int)left);
    }
}

bool Process::waitForText(const std::string& needle, milliseconds timeout) {
    return waitUntil(
        [&] {
            readMore(5);
            return output_.find(needle) != std::string::npos;
        },
        timeout);
}

int Process::finish(milliseconds timeout) {
    closeInput();
    if (pid_ <= 0)
        return -1;
    auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ADD_FAILURE() << description_ << " did not exit in time; killed. Output:\n" << output_;
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        // Keep reading so the program never blocks on a full pipe while it winds down.
        readMore(20);
    }
    while (readMore(50)) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- Windows programs ----

Process::Options wineOptions(const std::string& cwd) {
    Process::Options options;
    options.cwd = cwd;
    options.environment.push_back("WINEPREFIX=" + winePrefix());
    if (!getenv("WINEDEBUG"))
        options.environment.push_back("WINEDEBUG=-all");
    return options;
}

std::vector<std::string> wineCommand(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {build().wine, exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

Finished runWindowsProgram(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& cwd, milliseconds timeout) {
    Process::Options options = wineOptions(cwd);
    options.mergeStderr = true;
    Process program(wineCommand(exe, args), options);
    program.closeInput();
    Finished run{program.finish(timeout), program.output()};
    // The program's stdout is in text mode: its line ends arrive as CR LF.
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
    return run;
}

WineProgram::WineProgram(const std::string& exe, const std::vector<std::string>& args,
                         const std::string& cwd)
    : process_(wineCommand(exe, args), wineOptions(cwd)) {}

void WineProgram::send(const std::string& line) {
    process_.send(line + "\n");
}

WineProgram::Reply WineProgram::receive(milliseconds timeout) {
    Reply reply;
    auto deadline = Clock::now() + timeout;
    std::string line;
    while (process_.readLine(&line, deadline)) {
        if (line.rfind("event ", 0) == 0) {
            reply.events.push_back(line.substr(6));
        } else if (line == "ok" || line.rfind("ok ", 0) == 0) {
            reply.ok = true;
            reply.value = line.size() > 3 ? line.substr(3) : "";
            return reply;
        } else if (line.rfind("error", 0) == 0) {
            reply.value = line.size() > 6 ? line.substr(6) : "";
            return reply;
        }
    }
    ADD_FAILURE() << process_.description() << ": no answer within " << timeout.count()
                  << " ms (it hung or died). Its output so far:\n"
                  << process_.output();
    reply.value = "no answer";
    return reply;
}

WineProgram::Reply WineProgram::call(const std::string& line, milliseconds timeout) {
    send(line);
    return receive(timeout);
}

} // namespace harness
