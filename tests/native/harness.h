// What the end-to-end tests stand on: Windows programs under Wine, driven line by line, and
// pseudo-terminals standing in for the cube's serial line.
#pragma once

#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harness {

using std::chrono::milliseconds;

std::string win64Bin();   // the x86_64 Windows build outputs
std::string winePrefix(); // the private Wine prefix of this run

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void copyFile(const std::string& from, const std::string& to);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
std::string windowsPath(const std::string& linuxPath);

// A serial line whose far end the test holds. The master is drained in the background, because
// a pty whose master nobody reads stalls the writer after some 20 KB.
class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    void linkAsCom(int number); // <prefix>/dosdevices/comN -> the slave
    std::vector<unsigned char> bytes() const;
    bool waitForBytes(size_t count, milliseconds timeout = std::chrono::seconds(10));
    void clear();
    void pauseDraining();
    void resumeDraining();
    void closeMaster(); // the port vanishes under the writer
    termios slaveSettings() const;

  private:
    void drain();

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::vector<std::string> links_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<unsigned char> bytes_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopping_{false};
    std::thread drainer_;
};

// A Windows console program under wine64 that answers each stdin line with "event ..." lines
// and then one "ok [value]" or "error message" line.
class WineProgram {
  public:
    WineProgram(const std::string& exe, const std::vector<std::string>& args = {},
                const std::string& cwd = "");
    ~WineProgram();
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;

    struct Reply {
        bool ok = false;
        std::string value;
        std::vector<std::string> events;
    };
    Reply call(const std::string& line, milliseconds timeout = std::chrono::seconds(20));
    // Sends a line without waiting for the answer (for calls that block until the test acts).
    void send(const std::string& line);
    Reply receive(milliseconds timeout = std::chrono::seconds(20));
    // Closes stdin and waits for the exit code; -1 if it had to be killed.
    int finish(milliseconds timeout = std::chrono::seconds(20));
    std::string output() const { return output_; }

  private:
    bool readLine(std::string* line, std::chrono::steady_clock::time_point deadline);
    void kill();

    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::string output_;
    std::string description_;
};

// "2a 00 ... 7e": bytes as hex, for failure messages.
std::string hex(const std::vector<unsigned char>& bytes);

} // namespace harness
