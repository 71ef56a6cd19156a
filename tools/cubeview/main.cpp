// cubeview: a virtual cube. It reads the line a cube would read (a pty standing in for the
// COM port, a real serial device, or stdin), parses it like the cube's firmware and shows
// what the cube would light.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "cube_stream.h"
#include "cube_svg.h"
#include "frame_names.h"
#include "line_input.h"
#include "stream_view.h"

namespace {

const char kUsage[] =
    "usage: cubeview (--link PATH | --device PATH | --stdin) [--summary] [--until-stop]\n"
    "                [--timeout SECONDS]\n"
    "       cubeview --svg FILE --pattern Star|Levels|NewStar [--frame N]\n"
    "  --link PATH      create a pseudo-terminal and link PATH to it (e.g. a Wine prefix's\n"
    "                   dosdevices/com1); the link is removed at exit\n"
    "  --device PATH    read a serial device at 19200 baud 8N1 (e.g. /dev/ttyUSB0)\n"
    "  --stdin          read the byte stream from standard input\n"
    "  --summary        print one line of counts when the stream ends\n"
    "  --summary-file F write that line to the file F instead (the live view keeps the screen)\n"
    "  --until-stop     exit once the stop byte 0x4E has been seen\n"
    "  --timeout S      exit after S seconds without input\n"
    "  --svg FILE       draw one frame (or, without --frame, every frame of the pattern)\n";

// After this long without a byte, a frame still incomplete was cut short: 27 bytes take 14 ms
// at 19200 baud, and the sender writes each frame in one piece.
const std::chrono::milliseconds kIncompleteFrameAge(200);

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

struct Options {
    std::string link, device, svg, pattern, summaryFile;
    bool useStdin = false, summary = false, untilStop = false;
    double timeout = -1;
    int frame = -1;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--stdin") {
            options.useStdin = true;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--until-stop") {
            options.untilStop = true;
        } else if (hasValue && arg == "--summary-file") {
            options.summaryFile = argv[++i];
        } else if (hasValue && arg == "--link") {
            options.link = argv[++i];
        } else if (hasValue && arg == "--device") {
            options.device = argv[++i];
        } else if (hasValue && arg == "--svg") {
            options.svg = argv[++i];
        } else if (hasValue && arg == "--pattern") {
            options.pattern = argv[++i];
        } else if (hasValue && arg == "--timeout") {
            char* end = nullptr;
            options.timeout = std::strtod(argv[++i], &end);
            if (*end != '\0' || options.timeout < 0)
                return false;
        } else if (hasValue && arg == "--frame") {
            char* end = nullptr;
            long frame = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || frame < 0 || frame > 1000)
                return false;
            options.frame = static_cast<int>(frame);
        } else {
            return false;
        }
    }
    int sources = !options.link.empty() + !options.device.empty() + options.useStdin;
    return options.svg.empty() ? sources == 1 : sources == 0 && !options.pattern.empty();
}

int writeSvg(const Options& options) {
    int pattern = 0;
    while (pattern < kPatternCount &&
           strcasecmp(patternName(static_cast<CubePattern>(pattern)), options.pattern.c_str()))
        ++pattern;
    if (pattern == kPatternCount) {
        std::fprintf(stderr, "cubeview: no pattern %s (Star, Levels, NewStar)\n",
                     options.pattern.c_str());
        return 1;
    }
    CubePattern chosen = static_cast<CubePattern>(pattern);
    if (options.frame >= patternFrameCount(chosen)) {
        std::fprintf(stderr, "cubeview: %s has frames 0 to %d\n", patternName(chosen),
                     patternFrameCount(chosen) - 1);
        return 1;
    }
    std::string svg = options.frame < 0 ? overviewSvg(chosen) : frameSvg(chosen, options.frame);
    std::FILE* out = options.svg == "-" ? stdout : std::fopen(options.svg.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cubeview: cannot write %s: %s\n", options.svg.c_str(),
                     std::strerror(errno));
        return 1;
    }
    bool written = std::fwrite(svg.data(), 1, svg.size(), out) == svg.size();
    written = (out == stdout ? std::fflush(out) : std::fclose(out)) == 0 && written;
    return written ? 0 : 1;
}

void installSignalHandlers() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

class Session {
  public:
    Session(const Options& options, StreamView& view) : options_(options), view_(view) {}

    // Runs until the stream ends; returns why ("eof", "stop", "timeout", "signal").
    std::string run(int fd);
    // Settles a frame left incomplete and tells the view why the stream ended.
    void finish(const std::string& reason);
    void printSummary(std::FILE* out) const;
    bool stopSeen() const { return parser_.counts().stops > 0; }

  private:
    using Clock = std::chrono::steady_clock;
    int waitMilliseconds(Clock::time_point lastInput) const;
    bool feed(const unsigned char* data, size_t size);
    void dispatch();

    const Options& options_;
    StreamView& view_;
    CubeStreamParser parser_;
    FrameNamer namer_;
    PatternTally tally_;
    std::vector<StreamEvent> events_;
};

int Session::waitMilliseconds(Clock::time_point lastInput) const {
    long wait = 250; // the terminal view's rate needs an occasional tick
    auto idle = Clock::now() - lastInput;
    if (parser_.pending() > 0)
        wait = std::min<long>(
            wait, std::chrono::duration_cast<std::chrono::milliseconds>(kIncompleteFrameAge - idle)
                      .count());
    if (options_.timeout >= 0) {
        auto limit = std::chrono::duration<double>(options_.timeout) - idle;
        wait = std::min<long>(
            wait, std::chrono::duration_cast<std::chrono::milliseconds>(limit).count() + 1);
    }
    return static_cast<int>(std::max<long>(wait, 0));
}

// With --until-stop nothing after the stop byte is counted: it belongs to the next run.
bool Session::feed(const unsigned char* data, size_t size) {
    if (!options_.untilStop) {
        parser_.feed(data, size, events_);
        dispatch();
        return false;
    }
    for (size_t i = 0; i < size; ++i) {
        parser_.feed(data + i, 1, events_);
        if (stopSeen())
            break;
    }
    dispatch();
    return stopSeen();
}

void Session::dispatch() {
    for (const StreamEvent& event : events_) {
        if (event.kind == StreamEventKind::Frame) {
            FrameNaming naming = namer_.name(event.payload);
            tally_.add(naming, event.payload);
            view_.event(event, &naming, parser_.counts());
        } else {
            view_.event(event, nullptr, parser_.counts());
        }
    }
    events_.clear();
}

std::string Session::run(int fd) {
    Clock::time_point lastInput = Clock::now();
    unsigned char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        int ready = poll(fds, signalPipe[0] >= 0 ? 2 : 1, waitMilliseconds(lastInput));
        if (ready < 0 && errno != EINTR)
            return "error";
        if (fds[1].revents & POLLIN)
            return "signal";
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t count = read(fd, buffer, sizeof buffer);
            if (count > 0) {
                lastInput = Clock::now();
                if (feed(buffer, static_cast<size_t>(count)))
                    return "stop";
            } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
                return "eof"; // end of file, or the device hung up (EIO)
            }
        }
        auto idle = Clock::now() - lastInput;
        if (parser_.pending() > 0 && idle >= kIncompleteFrameAge) {
            parser_.flush(events_);
            dispatch();
            if (options_.untilStop && stopSeen())
                return "stop";
        }
        if (options_.timeout >= 0 && idle >= std::chrono::duration<double>(options_.timeout))
            return "timeout";
        view_.tick(parser_.counts());
    }
}

void Session::finish(const std::string& reason) {
    parser_.flush(events_);
    dispatch();
    view_.end(reason, parser_.counts());
}

void Session::printSummary(std::FILE* out) const {
    const StreamCounts& counts = parser_.counts();
    std::fprintf(out,
                 "summary frames=%llu bytes=%llu skipped=%llu rejected=%llu start=%llu "
                 "stop=%llu %s\n",
                 (unsigned long long)counts.frames, (unsigned long long)counts.bytes,
                 (unsigned long long)counts.skipped, (unsigned long long)counts.rejected,
                 (unsigned long long)counts.starts, (unsigned long long)counts.stops,
                 tally_.summary().c_str());
    std::fflush(out);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (!options.svg.empty())
        return writeSvg(options);

    installSignalHandlers();
    LineInput input;
    std::string error, source;
    if (!options.link.empty()) {
        error = input.openLinkedPty(options.link);
        source = "pty linked at " + options.link;
    } else if (!options.device.empty()) {
        error = input.openDevice(options.device);
        source = options.device + " at 19200 8N1";
    } else {
        input.useStdin();
        source = "standard input";
    }
    if (!error.empty()) {
        input.close();
        std::fprintf(stderr, "cubeview: %s\n", error.c_str());
        return 1;
    }

    std::unique_ptr<StreamView> view;
    if (isatty(STDOUT_FILENO))
        view.reset(new TerminalView(stdout, source));
    else
        view.reset(new LineView(stdout));
    Session session(options, *view);
    std::string reason = session.run(input.fd());
    input.close();
    session.finish(reason);
    view.reset();
    if (options.summary)
        session.printSummary(stdout);
    if (!options.summaryFile.empty()) {
        std::FILE* file = std::fopen(options.summaryFile.c_str(), "w");
        if (file == nullptr) {
            std::fprintf(stderr, "cubeview: cannot write %s\n", options.summaryFile.c_str());
            return 1;
        }
        session.printSummary(file);
        std::fclose(file);
    }
    bool missedStop = options.untilStop && !session.stopSeen() && reason != "signal";
    return reason == "error" ? 1 : missedStop ? 2 : 0;
}
