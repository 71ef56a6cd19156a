#include "cube_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "level.h"
#include "light_receiver.h"
#include "report.h"
#include "sound_feed.h"
#include "thread_name.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// While the port is not open, it is tried this often: just under the library's own second, so
// the listener, not a frame write, brings it back and knows to send the start byte.
static const milliseconds kPortCheck(900);
// A try that took this long (a Bluetooth port whose device is off) is repeated seldom.
static const milliseconds kSlowTry(300);
static const milliseconds kSlowPortCheck(10000);
static const milliseconds kWholeCube(2000);
static const milliseconds kStopWait(5000);
// A frame's 270 bits at 19200 baud: no frame of other programs goes out sooner after the last.
static const std::chrono::microseconds kLineTime(14063);
// How often the tooltip's count of dropped packets is brought up to date.
static const milliseconds kDroppedCheck(1000);

// What the tray asks of the cube's thread; read by it at its next tick.
static std::mutex commandMutex;
static std::condition_variable commandArrived;
static ListenModeId wantedMode = kModeLevels;
static std::string wantedPort;
static bool wholeCubeWanted = false;
static bool stopWanted = false;
static std::shared_ptr<LightReceiver> wantedLight;
static bool lightChanged = false;
static std::thread cubeThread;
static std::mutex finishedMutex;
static std::condition_variable finishedSignal;
static bool cubeFinished = false;

class CubeRun {
  public:
    CubeRun(CubeLink* link, SoundFeed* feed, ListenModeId mode, const std::string& port)
        : link_(link), feed_(feed), port_(port) {
        useMode(mode);
    }

    void run() {
        openAndTell();
        Clock::time_point nextFrame = Clock::now();
        for (;;) {
            Clock::time_point wake = nextFrame;
            if (lightWaiting_ && lastWrite_ + kLineTime < wake)
                wake = lastWrite_ + kLineTime;
            {
                std::unique_lock<std::mutex> lock(commandMutex);
                commandArrived.wait_until(lock, wake, [] { return stopWanted || lightChanged; });
                lightChanged = false;
            }
            if (!takeCommands())
                break;
            Clock::time_point now = Clock::now();
            bool held = showLight(now);
            if (now < nextFrame)
                continue;
            // Keep the mode's pace on average; after a stall start afresh rather than rush.
            milliseconds delay(modeOf(mode_).delayMs);
            nextFrame += delay;
            if (now - nextFrame > delay)
                nextFrame = now + delay;
            checkPort(now);
            sendFrame(now, held);
            countDropped(now);
        }
        link_->sendByte(kCubeStopByte);
        link_->close();
        setStatusLit(false);
    }

  private:
    void useMode(ListenModeId mode) {
        mode_ = mode;
        show_ = makeMusicShow(mode);
        showStarted_ = false;
    }

    // False once the tray asked to stop. What was asked is taken under the lock and done
    // outside it: opening a port may take seconds, and the tray must never wait for that.
    bool takeCommands() {
        std::string port;
        ListenModeId mode;
        {
            std::lock_guard<std::mutex> lock(commandMutex);
            if (stopWanted)
                return false;
            mode = wantedMode;
            port = wantedPort;
            if (light_ != wantedLight) {
                light_ = wantedLight;
                lightFresh_ = true;
            }
            if (wholeCubeWanted) {
                wholeCubeWanted = false;
                wholeCubeUntil_ = Clock::now() + kWholeCube;
                wholeCube_ = true;
            }
        }
        if (mode != mode_)
            useMode(mode);
        if (port != port_) {
            link_->sendByte(kCubeStopByte);
            link_->close();
            port_ = port;
            lit_ = false;
            lastReason_.clear();
            setStatusLit(false);
            setStatusPort(port_);
            openAndTell();
        }
        return true;
    }

    // Another program's newest frame, once the line has taken the last one; true while a sender
    // holds the cube, so the mode's frames wait.
    bool showLight(Clock::time_point now) {
        lightWaiting_ = false;
        if (!light_ || wholeCube_)
            return false;
        std::optional<CubePlanes> planes = light_->newestFor(now);
        if (!planes)
            return false;
        bool unwritten = lightFresh_ || light_->waitForChange(milliseconds(0));
        if (!unwritten || !lit_)
            return true;
        if (now - lastWrite_ < kLineTime) {
            lightWaiting_ = true;
            return true;
        }
        link_->showPlanes(*planes);
        light_->frameWritten();
        lastWrite_ = now;
        lightFresh_ = false;
        return true;
    }

    void sendFrame(Clock::time_point now, bool held) {
        if (wholeCube_ && now >= wholeCubeUntil_) {
            wholeCube_ = false;
            lightFresh_ = true; // a sender's frame was covered: it is shown again
        }
        // The music modes follow the sound even while the cube is dark or lit otherwise, so
        // their picture is the music's when they come back.
        CubePlanes planes = musicFrame();
        if (!lit_ || held)
            return; // the library would try the port itself; the check above does it
        lastWrite_ = now;
        if (wholeCube_) {
            link_->showLevel(kPatternLevels, kLevelMax);
        } else if (modeOf(mode_).music) {
            link_->showPlanes(planes);
        } else {
            unsigned char block[kBlockSamples];
            feed_->newestBlock(block);
            link_->showLevel(modeOf(mode_).pattern, channel_level(block));
        }
    }

    // The tooltip's count of packets from other programs that were not light.
    void countDropped(Clock::time_point now) {
        if (!light_ || now - lastDroppedCheck_ < kDroppedCheck)
            return;
        lastDroppedCheck_ = now;
        unsigned long long dropped = light_->droppedCount();
        if (dropped != dropped_) {
            dropped_ = dropped;
            setStatusNetwork(true, dropped);
        }
    }

    CubePlanes musicFrame() {
        CubePlanes dark = {{0, 0, 0, 0, 0}};
        if (!show_)
            return dark;
        int rate = 0;
        bool restarted = false;
        feed_->takeMix(&mix_, &rate, &restarted);
        if (restarted || !showStarted_) {
            show_->start(rate);
            showStarted_ = true;
        }
        if (!mix_.empty())
            show_->feed(mix_.data(), mix_.size());
        return show_->nextFrame();
    }

    // Open answers at once while the port is held, and otherwise tries it again.
    void openAndTell() {
        Clock::time_point started = Clock::now();
        std::string failure;
        bool opened = link_->open(port_, &failure);
        lastCheck_ = Clock::now();
        slow_ = !opened && lastCheck_ - started >= kSlowTry;
        if (opened) {
            if (!lit_) {
                link_->sendByte(kCubeStartByte);
                lit_ = true;
                lightFresh_ = true; // a cube that comes back gets the sender's frame at once
                lastReason_.clear();
                setStatusLit(true);
                tellNews("The cube on " + port_ + " is lit");
            }
            return;
        }
        if (lit_ || failure != lastReason_) {
            lit_ = false;
            setStatusLit(false);
            lastReason_ = failure;
            tellFailure(failure);
        }
    }

    void checkPort(Clock::time_point now) {
        if (now - lastCheck_ >= (slow_ ? kSlowPortCheck : kPortCheck))
            openAndTell();
    }

    CubeLink* link_;
    SoundFeed* feed_;
    ListenModeId mode_ = kModeLevels;
    std::unique_ptr<MusicShow> show_;
    bool showStarted_ = false;
    std::vector<float> mix_;
    std::string port_;
    bool lit_ = false;
    bool slow_ = false;
    bool wholeCube_ = false;
    Clock::time_point wholeCubeUntil_;
    Clock::time_point lastCheck_;
    std::string lastReason_;
    std::shared_ptr<LightReceiver> light_;
    bool lightFresh_ = false;   // the sender's frame must go out even if it did not change
    bool lightWaiting_ = false; // a fresh frame waits for the line
    Clock::time_point lastWrite_;
    Clock::time_point lastDroppedCheck_;
    unsigned long long dropped_ = 0;
};

void startCube(CubeLink* link, ListenModeId mode, const std::string& port, SoundFeed* feed) {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        wantedMode = mode;
        wantedPort = port;
        stopWanted = false;
    }
    setStatusPort(port);
    {
        std::lock_guard<std::mutex> lock(finishedMutex);
        cubeFinished = false;
    }
    cubeThread = std::thread([=] {
        nameThisThread("lumo cube");
        link->threadStarting();
        CubeRun(link, feed, mode, port).run();
        link->threadEnding();
        std::lock_guard<std::mutex> lock(finishedMutex);
        cubeFinished = true;
        finishedSignal.notify_all();
    });
}

void setCubeMode(ListenModeId mode) {
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedMode = mode;
}

void setCubePort(const std::string& port) {
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedPort = port;
}

void setCubeLight(std::shared_ptr<LightReceiver> receiver) {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        wantedLight = std::move(receiver);
        lightChanged = true;
    }
    commandArrived.notify_all();
}

void cubeLightChanged() {
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        lightChanged = true;
    }
    commandArrived.notify_all();
}

void lightWholeCube() {
    std::lock_guard<std::mutex> lock(commandMutex);
    wholeCubeWanted = true;
}

void stopCube() {
    if (!cubeThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        stopWanted = true;
    }
    commandArrived.notify_all();
    // A port that takes seconds to give up may hold the thread; the process ends anyway.
    bool finished;
    {
        std::unique_lock<std::mutex> lock(finishedMutex);
        finished = finishedSignal.wait_for(lock, kStopWait, [] { return cubeFinished; });
    }
    if (finished)
        cubeThread.join();
    else
        cubeThread.detach();
}
