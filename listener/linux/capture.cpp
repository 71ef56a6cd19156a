#include "capture.h"

#include "thread_name.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "pulse_client.h"
#include "recorder.h"
#include "report.h"
#include "sound_feed.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every question to the server waits this long at most; connecting a little longer, since a
// server that has just started may take a moment to take the handshake.
static const milliseconds kAnswerLimit(3000);
static const milliseconds kConnectLimit(5000);
// A server that is not there, or a device that is not, is looked for again this often, and at
// once when the server tells of a change.
static const milliseconds kServerRetry(1500);
static const milliseconds kDeviceRetry(1000);
static const milliseconds kFailureRetry(2000);
// The server's news can be missed, and a session manager may move things by itself: the
// default output is also looked at this often.
static const milliseconds kDefaultCheck(1500);
// A recorder delivers all the time, silence too; one that has delivered nothing for this long
// (its source suspended) counts as silent, and after the longer wait it is opened again.
static const milliseconds kQuietAfter(120);
static const milliseconds kStalled(2000);
static const milliseconds kTick(50);
// A server between two defaults (the output just went, the session manager has not yet named the
// next: WirePlumber takes a moment) has none for a while; only a lack that lasts is told, and
// meanwhile the default is looked for often.
static const milliseconds kNoOutputGrace(2000);
static const milliseconds kNoOutputLook(200);

// The words for each trouble, as the user reads them.
static const char kServerMissing[] =
    "The sound server is not there yet; the cube stays dark until it is";
static const char kServerGone[] =
    "The sound server went away; the cube stays dark until it is back";
static const char kServerSilent[] =
    "The sound server does not answer; the cube stays dark until it does";
static const char kNoOutput[] =
    "This machine has no sound output to listen to; the cube stays dark until there is one";

std::string sourceTitle(const std::string& device) {
    return device.empty() ? "What this machine plays" : device;
}

// What main asks of the capture thread, and the server's news for it.
static std::mutex commandMutex;
static std::condition_variable wake;
static bool stopWanted = false;
static bool deviceChangeWanted = false;
static bool newsArrived = false;
static std::string wantedDevice;
static std::thread captureThread;

static void serverNews() {
    std::lock_guard<std::mutex> lock(commandMutex);
    newsArrived = true;
    wake.notify_all();
}

class Capture {
  public:
    Capture(SoundFeed* feed, const std::string& device)
        : feed_(feed), device_(device), recorder_(&client_, feed) {}

    void run() {
        setStatusListening(sourceTitle(device_));
        for (;;) {
            bool news = false;
            if (!takeCommands(&news))
                break;
            step(news);
            std::unique_lock<std::mutex> lock(commandMutex);
            wake.wait_for(lock, kTick,
                          [] { return stopWanted || deviceChangeWanted || newsArrived; });
        }
        recorder_.close();
        client_.disconnect();
        feed_->clear();
    }

  private:
    bool takeCommands(bool* news) {
        std::lock_guard<std::mutex> lock(commandMutex);
        if (stopWanted)
            return false;
        *news = newsArrived;
        newsArrived = false;
        if (deviceChangeWanted) {
            deviceChangeWanted = false;
            device_ = wantedDevice;
            recorder_.close();
            feed_->clear();
            problem_.clear();
            listening_.clear();
            setStatusListening(sourceTitle(device_));
            retryAt_ = Clock::now();
        }
        return true;
    }

    void step(bool news) {
        Clock::time_point now = Clock::now();
        if (!client_.connected()) {
            if (connected_) {
                connected_ = false;
                lose();
                trouble(kServerGone, kServerRetry);
            }
            if (now >= retryAt_)
                connect();
            return;
        }
        if (!recorder_.isOpen()) {
            if (news || now >= retryAt_)
                open();
            return;
        }
        if (recorder_.lost()) {
            lostSource();
            return;
        }
        watchSound(now);
        followDefault(now, news);
    }

    // Told once for as long as it lasts; a new problem is told again. `kind` names a problem
    // that is told in more than one way.
    void trouble(const std::string& text, milliseconds retry, const std::string& kind = "") {
        std::string problem = kind.empty() ? text : kind;
        if (problem != problem_) {
            problem_ = problem;
            tellFailure(text);
            setStatusListening(sourceTitle(device_) + " (not there)");
        }
        listening_.clear();
        retryAt_ = Clock::now() + retry;
    }

    void noOutput() {
        Clock::time_point now = Clock::now();
        if (!noOutputSince_)
            noOutputSince_ = now;
        if (now - *noOutputSince_ < kNoOutputGrace) {
            listening_.clear();
            retryAt_ = now + kNoOutputLook;
            return;
        }
        trouble(kNoOutput, kDeviceRetry);
    }

    void lose() {
        recorder_.close();
        feed_->clear();
    }

    void connect() {
        PulseClient::Outcome outcome = client_.connect(kConnectLimit);
        if (outcome == PulseClient::kAnswered) {
            connected_ = everConnected_ = true;
            open();
            return;
        }
        if (outcome == PulseClient::kNoAnswer)
            trouble(kServerSilent, kServerRetry);
        else
            trouble(everConnected_ ? kServerGone : kServerMissing, kServerRetry);
    }

    // A question that got no answer: the server is there and hangs, or it went meanwhile,
    // which the next step finds.
    void unanswered(PulseClient::Outcome outcome) {
        if (outcome != PulseClient::kNoAnswer)
            return;
        lose();
        client_.disconnect();
        connected_ = false;
        trouble(kServerSilent, kServerRetry);
    }

    // What to listen to now, and what to call it; false when there is nothing (told).
    bool choose(SoundDevice* source, std::string* what) {
        PulseClient::Outcome outcome;
        if (device_.empty()) {
            std::string sink;
            if ((outcome = client_.defaultSink(&sink, kAnswerLimit)) != PulseClient::kAnswered) {
                unanswered(outcome);
                return false;
            }
            bool found = false;
            if (!sink.empty() &&
                (outcome = client_.sinkNamed(sink, source, &found, kAnswerLimit)) !=
                    PulseClient::kAnswered) {
                unanswered(outcome);
                return false;
            }
            if (!found) {
                noOutput();
                return false;
            }
            noOutputSince_.reset();
            // By the monitor's name: "@DEFAULT_MONITOR@" is the microphone to PipeWire before
            // 0.3.72, and a monitor has its sink's rate and channels.
            currentSink_ = sink;
            source->name = sink + ".monitor";
            *what = "what this machine plays (" + source->description + ")";
            return true;
        }
        std::vector<SoundDevice> sources;
        if ((outcome = client_.sources(&sources, kAnswerLimit)) != PulseClient::kAnswered) {
            unanswered(outcome);
            return false;
        }
        for (int byName = 0; byName < 2; ++byName) {
            for (const SoundDevice& candidate : sources) {
                if ((byName ? candidate.name : candidate.description) == device_) {
                    *source = candidate;
                    *what = device_;
                    return true;
                }
            }
        }
        absent();
        return false;
    }

    // "Went away" and the "is not there" of each retry after it are one problem, told once.
    void absent(const std::string& text = "") {
        trouble(text.empty() ? "The recording device " + device_ +
                                   " is not there; the cube stays dark until it is back"
                             : text,
                kDeviceRetry, "absent " + device_);
    }

    void open() {
        SoundDevice source;
        std::string what;
        if (!choose(&source, &what))
            return;
        MixFormat format;
        format.rate = source.rate;
        format.channels = source.channels;
        format.frameSize = 4 * source.channels;
        if (!mixFormatUsable(format)) {
            trouble("The sound of " + what + " comes in a form lumolisten cannot read",
                    kFailureRetry * 5);
            return;
        }
        std::string error;
        switch (recorder_.open(source, kAnswerLimit, &error)) {
        case Recorder::kRecording:
            break;
        case Recorder::kNoSuchSource: // gone between the question and the stream
            if (device_.empty())
                noOutput();
            else
                absent();
            return;
        case Recorder::kNoAnswer:
            unanswered(PulseClient::kNoAnswer);
            return;
        case Recorder::kFailed:
            trouble("Cannot listen to " + what + " (" + error + "); trying again", kFailureRetry);
            return;
        }
        lastQuiet_ = lastDefaultCheck_ = Clock::now();
        problem_.clear();
        setStatusListening(device_.empty() ? what : source.description);
        if (what != listening_) {
            listening_ = what;
            tellNews("Listening to " + what);
        }
    }

    // The server ended the stream: its source went away (a sink unloaded, a USB microphone
    // pulled out). What this machine plays goes on with the new default output at once.
    void lostSource() {
        lose();
        if (!client_.connected())
            return;
        if (device_.empty()) {
            open();
            return;
        }
        absent("The sound device " + device_ + " went away; the cube stays dark until it is back");
    }

    void watchSound(Clock::time_point now) {
        Clock::time_point heard = recorder_.lastSound();
        if (heard > lastQuiet_)
            lastQuiet_ = heard;
        if (now - heard >= kStalled) {
            lose(); // opened again at the next step, silently if all is well
            retryAt_ = now;
            return;
        }
        if (now - lastQuiet_ >= kQuietAfter) {
            feed_->pushSilence(
                (double)std::chrono::duration_cast<milliseconds>(now - lastQuiet_).count());
            lastQuiet_ = now;
        }
    }

    // What this machine plays follows the default output: headphones plugged in, a USB
    // headset, a choice in the desktop's sound settings.
    void followDefault(Clock::time_point now, bool news) {
        if (!device_.empty() || (!news && now - lastDefaultCheck_ < kDefaultCheck))
            return;
        lastDefaultCheck_ = now;
        std::string sink;
        PulseClient::Outcome outcome = client_.defaultSink(&sink, kAnswerLimit);
        if (outcome != PulseClient::kAnswered) {
            unanswered(outcome);
            return;
        }
        if (sink != currentSink_) {
            lose();
            open();
        }
    }

    SoundFeed* feed_;
    std::string device_;
    PulseClient client_{serverNews};
    Recorder recorder_;
    bool connected_ = false;
    bool everConnected_ = false;
    std::string currentSink_; // the default output listened to
    Clock::time_point retryAt_ = Clock::now();
    Clock::time_point lastQuiet_;
    Clock::time_point lastDefaultCheck_;
    std::string problem_;                            // the trouble last told, until it is over
    std::optional<Clock::time_point> noOutputSince_; // since when no default output was found
    std::string listening_;                          // what the last "Listening to" said
};

void startCapture(const std::string& device, SoundFeed* feed) {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = false;
    }
    captureThread = std::thread([=] {
        nameThisThread("lumo capture");
        Capture(feed, device).run();
    });
}

void setCaptureDevice(const std::string& device) {
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedDevice = device;
    deviceChangeWanted = true;
    wake.notify_all();
}

void stopCapture() {
    if (!captureThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = true;
        wake.notify_all();
    }
    // Bounded: every question it may be waiting on has its limit.
    captureThread.join();
}

bool recordingDevices(std::vector<std::string>* descriptions, std::vector<std::string>* names) {
    PulseClient client;
    std::vector<SoundDevice> sources;
    if (client.connect(kAnswerLimit) != PulseClient::kAnswered ||
        client.sources(&sources, kAnswerLimit) != PulseClient::kAnswered)
        return false;
    for (const SoundDevice& source : sources) {
        descriptions->push_back(source.description);
        names->push_back(source.name);
    }
    return true;
}
