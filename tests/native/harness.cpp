#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace harness {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = getenv(name);
    return value && *value ? value : fallback;
}

std::string win64Bin() {
    return environmentOr("LUMO_WIN64_BIN", std::string(LUMO_SOURCE_DIR) + "/build/win64/bin");
}

std::string winePrefix() {
    return environmentOr("WINEPREFIX", std::string(LUMO_SOURCE_DIR) + "/build/wineprefix");
}

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

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool fileExists(const std::string& path) {
    return fs::exists(path);
}

std::string windowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string hex(const std::vector<unsigned char>& bytes) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(digits, sizeof digits, i ? " %02x" : "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

// ---- Pty ----

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    slavePath_ = ptsname(master_);
    // Holding the slave open keeps the master readable (no EIO) while no writer is attached.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Wine programs started later must not inherit the master: closing it would not end the line.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    termios settings;
    tcgetattr(slave_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave_, TCSANOW, &settings);
    drainer_ = std::thread([this] { drain(); });
}

Pty::~Pty() {
    for (const std::string& link : links_) {
        std::error_code ignored;
        if (fs::read_symlink(link, ignored) == slavePath_)
            fs::remove(link, ignored);
    }
    closeMaster();
    if (slave_ >= 0)
        close(slave_);
}

void Pty::drain() {
    unsigned char buffer[4096];
    while (!stopping_) {
        if (paused_) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        pollfd readable = {master_, POLLIN, 0};
        if (poll(&readable, 1, 20) <= 0)
            continue;
        ssize_t count = read(master_, buffer, sizeof buffer);
        if (count <= 0) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.insert(bytes_.end(), buffer, buffer + count);
        arrived_.notify_all();
    }
}

void Pty::linkAsCom(int number) {
    std::string link = winePrefix() + "/dosdevices/com" + std::to_string(number);
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(slavePath_, link);
    links_.push_back(link);
}

std::vector<unsigned char> Pty::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

bool Pty::waitForBytes(size_t count, milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
}

void Pty::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.clear();
}

void Pty::pauseDraining() {
    paused_ = true;
}
void Pty::resumeDraining() {
    paused_ = false;
}

void Pty::closeMaster() {
    stopping_ = true;
    if (drainer_.joinable())
        drainer_.join();
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

termios Pty::slaveSettings() const {
    termios settings{};
    tcgetattr(slave_, &settings);
    return settings;
}

// ---- WineProgram ----

WineProgram::WineProgram(const std::string& exe, const std::vector<std::string>& args,
                         const std::string& cwd) {
    signal(SIGPIPE, SIG_IGN); // a program that died must fail the test, not kill it
    description_ = exe;
    for (const std::string& arg : args)
        description_ += " " + arg;
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::string prefix = winePrefix();
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[1]);
        close(fromChild[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        setenv("WINEPREFIX", prefix.c_str(), 1);
        if (!getenv("WINEDEBUG"))
            setenv("WINEDEBUG", "-all", 1);
        std::vector<char*> argv;
        static const char wine[] = "/usr/lib/wine/wine64";
        argv.push_back(const_cast<char*>(wine));
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(wine, argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
}

WineProgram::~WineProgram() {
    if (pid_ > 0)
        finish(milliseconds(10000));
    if (out_ >= 0)
        close(out_);
}

void WineProgram::send(const std::string& line) {
    std::string text = line + "\n";
    if (in_ < 0 || write(in_, text.data(), text.size()) != (ssize_t)text.size())
        ADD_FAILURE() << "cannot send '" << line << "' to " << description_;
}

bool WineProgram::readLine(std::string* line, Clock::time_point deadline) {
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
        pollfd readable = {out_, POLLIN, 0};
        if (poll(&readable, 1, (int)left) <= 0)
            continue;
        char buffer[4096];
        ssize_t count = read(out_, buffer, sizeof buffer);
        if (count <= 0)
            return false; // the program ended
        pending_.append(buffer, count);
        output_.append(buffer, count);
    }
}

WineProgram::Reply WineProgram::receive(milliseconds timeout) {
    Reply reply;
    auto deadline = Clock::now() + timeout;
    std::string line;
    while (readLine(&line, deadline)) {
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
    ADD_FAILURE() << description_ << ": no answer within " << timeout.count()
                  << " ms (it hung or died). Its output so far:\n"
                  << output_;
    reply.value = "no answer";
    return reply;
}

WineProgram::Reply WineProgram::call(const std::string& line, milliseconds timeout) {
    send(line);
    return receive(timeout);
}

int WineProgram::finish(milliseconds timeout) {
    if (in_ >= 0) {
        close(in_);
        in_ = -1;
    }
    if (pid_ <= 0)
        return -1;
    auto deadline = Clock::now() + timeout;
    int status = 0;
    std::string ignored;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill();
            return -1;
        }
        // Keep reading so the program never blocks on a full pipe while it winds down.
        readLine(&ignored, Clock::now() + milliseconds(20));
    }
    while (readLine(&ignored, Clock::now() + milliseconds(50))) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WineProgram::kill() {
    ADD_FAILURE() << description_ << " did not exit in time; killed. Output:\n" << output_;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

} // namespace harness
