#include "stream_view.h"

#include <algorithm>

// Numbered here rather than from the counts: those already include the rest of the read.
void LineView::event(const StreamEvent& event, const FrameNaming* naming, const StreamCounts&) {
    unsigned long long at = event.offset;
    switch (event.kind) {
    case StreamEventKind::Frame:
        std::fprintf(out_, "frame %llu %s lit=%d at=%llu\n", ++frames_, naming->text.c_str(),
                     litCount(event.payload), at);
        break;
    case StreamEventKind::Rejected:
        std::fprintf(out_, "rejected %llu at=%llu\n", ++rejected_, at);
        break;
    case StreamEventKind::Start:
        std::fprintf(out_, "start at=%llu\n", at);
        break;
    case StreamEventKind::Stop:
        std::fprintf(out_, "stop at=%llu\n", at);
        break;
    case StreamEventKind::Skipped:
        std::fprintf(out_, "skipped %llu at=%llu\n", (unsigned long long)event.length, at);
        break;
    }
    std::fflush(out_);
}

void LineView::end(const std::string& reason, const StreamCounts&) {
    std::fprintf(out_, "end %s\n", reason.c_str());
    std::fflush(out_);
}

static const char kLit[] = "\033[1;93m\u25CF\033[0m";  // bright yellow ●
static const char kDark[] = "\033[2;37m\u00B7\033[0m"; // dim grey ·
// Redraws fast enough to follow the 71 frames a second the line can carry, and no faster:
// replaying a file would otherwise spend its time writing escape sequences.
static const std::chrono::milliseconds kRedrawInterval(30);

TerminalView::TerminalView(std::FILE* out, const std::string& source) : out_(out), source_(source) {
    std::fputs("\033[?25l\033[2J", out_); // hide the cursor, clear the screen
    draw(StreamCounts());
}

TerminalView::~TerminalView() {
    if (!restored_)
        std::fputs("\033[0m\033[?25h\n", out_);
    std::fflush(out_);
}

void TerminalView::event(const StreamEvent& event, const FrameNaming* naming,
                         const StreamCounts& counts) {
    char text[128];
    unsigned long long at = event.offset;
    switch (event.kind) {
    case StreamEventKind::Frame:
        std::copy(event.payload, event.payload + kCubePayloadSize, payload_);
        name_ = naming->text;
        recentFrames_.push_back(Clock::now());
        break;
    case StreamEventKind::Rejected:
        std::snprintf(text, sizeof text, "rejected a frame at byte %llu (payload above 31)", at);
        lastEvent_ = text;
        break;
    case StreamEventKind::Start:
        std::snprintf(text, sizeof text, "start byte 0x4C at byte %llu", at);
        lastEvent_ = text;
        break;
    case StreamEventKind::Stop:
        std::snprintf(text, sizeof text, "stop byte 0x4E at byte %llu", at);
        lastEvent_ = text;
        break;
    case StreamEventKind::Skipped:
        std::snprintf(text, sizeof text, "skipped %llu bytes at byte %llu",
                      (unsigned long long)event.length, at);
        lastEvent_ = text;
        break;
    }
    dirty_ = true;
    tick(counts);
}

void TerminalView::tick(const StreamCounts& counts) {
    Clock::time_point now = Clock::now();
    if (now - lastDraw_ < kRedrawInterval)
        return;
    // The rate decays to 0 while the line is quiet, so a quiet line redraws too.
    if (dirty_ || !recentFrames_.empty())
        draw(counts);
}

double TerminalView::framesPerSecond() {
    Clock::time_point now = Clock::now();
    while (!recentFrames_.empty() && now - recentFrames_.front() > std::chrono::seconds(1))
        recentFrames_.pop_front();
    return static_cast<double>(recentFrames_.size());
}

void TerminalView::draw(const StreamCounts& counts) {
    std::string screen = "\033[H";
    screen += "\033[1mcubeview\033[0m  " + source_ + "\033[K\n\033[K\n";
    screen += "  \033[1m" + name_ + "\033[0m   " + std::to_string(litCount(payload_)) +
              " LEDs lit\033[K\n\033[K\n";
    for (int plane = 1; plane <= kCubePlanes; ++plane)
        screen += "  plane " + std::to_string(plane) + "      "; // as wide as a plane
    screen += "\033[K\n";
    for (int row = 1; row <= kCubeRows; ++row) {
        for (int plane = 1; plane <= kCubePlanes; ++plane) {
            screen += "  ";
            unsigned char bits = payload_[frameOffset(plane, row) - 1];
            for (int bit = 0; bit < kCubeColumns; ++bit)
                screen += std::string((bits >> bit) & 1 ? kLit : kDark) + " ";
            screen += "   ";
        }
        screen += "\033[K\n";
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "\033[K\n  frames %llu   fps %.0f   bytes %llu   skipped %llu   "
                  "rejected %llu   start %llu   stop %llu\033[K\n",
                  (unsigned long long)counts.frames, framesPerSecond(),
                  (unsigned long long)counts.bytes, (unsigned long long)counts.skipped,
                  (unsigned long long)counts.rejected, (unsigned long long)counts.starts,
                  (unsigned long long)counts.stops);
    screen += line;
    screen += "  " + lastEvent_ + "\033[K\n\033[J";
    std::fputs(screen.c_str(), out_);
    std::fflush(out_);
    lastDraw_ = Clock::now();
    dirty_ = false;
}

void TerminalView::end(const std::string& reason, const StreamCounts& counts) {
    lastEvent_ = "ended: " + reason;
    draw(counts);
    std::fputs("\033[0m\033[?25h", out_); // the cursor comes back, the drawing stays
    std::fflush(out_);
    restored_ = true;
}
