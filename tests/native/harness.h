// What the end-to-end tests stand on: the Windows build under test and the Wine that runs it,
// processes driven line by line, and pseudo-terminals standing in for the cube's serial line.
#pragma once

#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cube_bytes.h"
#include "pty_pair.h"

namespace harness {

using cubebytes::Bytes;
using cubebytes::hex;
using std::chrono::milliseconds;

// The Windows build a test run drives, chosen by LUMO_BUILD: "win64", the x86_64 build under
// 64-bit Wine (the default), or "win32", the shipped 32-bit DLLs under 32-bit Wine.
struct Build {
    std::string name;   // "win64" or "win32"
    std::string wine;   // the loader that runs it
    std::string prefix; // its private Wine prefix
    std::string bin;    // the preset's programs and test libraries
    std::string dist;   // where the shipped DLLs are; for win32 the very files users install
    // A DLL users install (lumo.dll, lumolink.dll) as this build has it.
    std::string shipped(const std::string& dll) const { return dist + "/" + dll; }
    bool is32Bit() const { return name == "win32"; }
};
const Build& build();
std::string winePrefix(); // build().prefix, unless a ScopedWinePrefix says otherwise

// For tests that need a prefix of their own (an installer's registry writes): while it lives,
// ptys link their COM ports there and Windows programs run there.
class ScopedWinePrefix {
  public:
    explicit ScopedWinePrefix(const std::string& prefix);
    ~ScopedWinePrefix();
    ScopedWinePrefix(const ScopedWinePrefix&) = delete;
    ScopedWinePrefix& operator=(const ScopedWinePrefix&) = delete;

  private:
    std::string previous_;
};

// A folder of the test's own, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void copyFile(const std::string& from, const std::string& to);
std::string readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path); // without the platform's CR
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path); // a dangling link counts: it is there
std::string windowsPath(const std::string& linuxPath);

// Waits up to `timeout` for `condition` to hold, checking every few milliseconds.
template <typename Condition>
bool waitUntil(Condition condition, milliseconds timeout = std::chrono::seconds(10)) {
    auto limit = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

// A serial line whose far end the test holds. The master is drained in the background, because
// a pty whose master nobody reads stalls the writer after some 20 KB.
class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return pair_.slavePath; }
    int slave() const { return pair_.slave; } // e.g. a program's terminal
    void linkAsCom(int number);               // <prefix>/dosdevices/comN -> the slave
    void linkAt(const std::string& path);     // path -> the slave, e.g. a /dev/serial/by-id name
    Bytes bytes() const;
    // When the byte at `index` of bytes() was read off the line; nullopt if it has not come.
    std::optional<std::chrono::steady_clock::time_point> arrivalOf(size_t index) const;
    // What arrived once nothing more waits on the line: everything written before the call.
    Bytes settledBytes() const;
    bool waitForBytes(size_t count, milliseconds timeout = std::chrono::seconds(10));
    void clear();
    void pauseDraining();
    void resumeDraining();
    void write(const Bytes& bytes); // into the master: what a device sends a reader of the slave
    void closeSlave();              // only the reader's own opening keeps the line up
    // The port vanishes under the writer. What had arrived is read first, so bytes() then
    // holds everything the far end wrote.
    void closeMaster();
    termios slaveSettings() const;
    void setSlaveSettings(const termios& settings);

  private:
    void drain();
    void readWaiting();

    PtyPair pair_;
    std::vector<std::string> links_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    Bytes bytes_;
    // For each read off the line: the size of bytes_ after it, and when it was made.
    std::vector<std::pair<size_t, std::chrono::steady_clock::time_point>> reads_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopping_{false};
    std::thread drainer_;
};

// What the line carried once `count` bytes arrived, or everything that came within the wait.
inline Bytes lineAfter(Pty& pty, size_t count) {
    pty.waitForBytes(count);
    return pty.bytes();
}

// The line as the cube's firmware reads it, one letter per thing it finds: 'L' the start byte,
// 'N' the stop byte, 'F' a frame, 'R' a frame with a payload byte out of range, 's' a run of
// bytes that belong to nothing (a frame cut short). "LFFFN" is a whole run of three frames.
std::string lineEvents(const Bytes& line);

// A child process with its stdin on a pipe the test writes into and its stdout (and stderr, if
// asked) collected, read line by line or all at once. It never outlives the test.
class Process {
  public:
    struct Options {
        std::string cwd;
        std::vector<std::string> environment; // NAME=VALUE added to the test's own
        int stdoutFd = -1;                    // the child's stdout elsewhere, e.g. a terminal
        bool mergeStderr = false;
    };
    Process(const std::vector<std::string>& argv, const Options& options);
    explicit Process(const std::vector<std::string>& argv) : Process(argv, Options()) {}
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void send(const std::string& text);
    void closeInput();
    void signal(int number);
    // The next line of output (without CR LF), or false once the deadline passed or it ended.
    bool readLine(std::string* line, std::chrono::steady_clock::time_point deadline);
    bool waitForText(const std::string& needle, milliseconds timeout = std::chrono::seconds(10));
    // Takes in whatever output has arrived, without waiting.
    void readAvailable() {
        while (readMore(0)) {
        }
    }
    // Closes stdin and waits for the exit code; -1 if it had to be killed.
    int finish(milliseconds timeout = std::chrono::seconds(20));
    const std::string& output() const { return output_; }
    const std::string& description() const { return description_; }

  private:
    bool readMore(int waitMs);

    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::string output_;
    std::string description_;
};

// How a Windows program of the build under test is started: its command line (the build's Wine
// loader first) and its options (its prefix, run in `cwd`; add to environment as needed).
std::vector<std::string> wineCommand(const std::string& exe, const std::vector<std::string>& args);
Process::Options wineOptions(const std::string& cwd);

// A program of the build under test, run to its end in `cwd` with stdin empty: its exit code
// and its output (stdout and stderr, line ends without CR). A program still running after
// `timeout` (a box nobody answers) is killed and the test fails.
struct Finished {
    int exitCode;
    std::string output;
};
Finished runWindowsProgram(const std::string& exe, const std::vector<std::string>& args,
                           const std::string& cwd, milliseconds timeout = std::chrono::seconds(60));

// A Windows console program of the build under test that answers each stdin line with
// "event ..." lines and then one "ok [value]" or "error message" line.
class WineProgram {
  public:
    WineProgram(const std::string& exe, const std::vector<std::string>& args = {},
                const std::string& cwd = "");

    struct Reply {
        bool ok = false;
        std::string value;
        std::vector<std::string> events;
    };
    Reply call(const std::string& line, milliseconds timeout = std::chrono::seconds(20));
    // Sends a line without waiting for the answer (for calls that block until the test acts).
    void send(const std::string& line);
    Reply receive(milliseconds timeout = std::chrono::seconds(20));
    int finish(milliseconds timeout = std::chrono::seconds(20)) { return process_.finish(timeout); }
    std::string output() const { return process_.output(); }

  private:
    Process process_;
};

} // namespace harness
