// What cubeview shows: the live cube on a terminal, or one line per frame and event when its
// output goes to a pipe or a file (CI, tests, logs).
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>

#include "cube_stream.h"
#include "frame_names.h"

class StreamView {
  public:
    virtual ~StreamView() = default;
    // naming is set for frames only.
    virtual void event(const StreamEvent& event, const FrameNaming* naming,
                       const StreamCounts& counts) = 0;
    // Called now and then while the line is quiet, so rates and deferred redraws catch up.
    virtual void tick(const StreamCounts& counts) { (void)counts; }
    virtual void end(const std::string& reason, const StreamCounts& counts) = 0;
};

// "frame 12 Star 2/3 lit=7 at=297", "start at=0", "skipped 3 at=27", "rejected 1 at=30",
// "stop at=3323", and "end eof|stop|timeout|signal" last. Flushed line by line.
class LineView : public StreamView {
  public:
    explicit LineView(std::FILE* out) : out_(out) {}
    void event(const StreamEvent& event, const FrameNaming* naming,
               const StreamCounts& counts) override;
    void end(const std::string& reason, const StreamCounts& counts) override;

  private:
    std::FILE* out_;
    unsigned long long frames_ = 0;
    unsigned long long rejected_ = 0;
};

// Draws the five planes side by side and the counters, redrawn in place with ANSI escapes.
class TerminalView : public StreamView {
  public:
    TerminalView(std::FILE* out, const std::string& source);
    ~TerminalView() override;
    void event(const StreamEvent& event, const FrameNaming* naming,
               const StreamCounts& counts) override;
    void tick(const StreamCounts& counts) override;
    void end(const std::string& reason, const StreamCounts& counts) override;

  private:
    using Clock = std::chrono::steady_clock;
    void draw(const StreamCounts& counts);
    double framesPerSecond();

    std::FILE* out_;
    std::string source_;
    unsigned char payload_[kCubePayloadSize] = {};
    std::string name_ = "no frame yet";
    std::string lastEvent_ = "waiting for bytes";
    std::deque<Clock::time_point> recentFrames_;
    Clock::time_point lastDraw_;
    bool dirty_ = true;
    bool restored_ = false;
};
