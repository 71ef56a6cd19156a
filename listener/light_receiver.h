// What other lighting programs want the cube to show, from the E1.31 and DDP datagrams they send:
// which source holds the cube, its newest frame, and when the music takes the cube back.
// Platform-free: the receiving thread hands in each datagram with its sender and arrival time,
// the cube's thread asks for the newest frame; both may do so at once.
//
// Sources: an E1.31 source is its CID, a DDP source is its sender's address. Of the sources that
// sent a frame in the last 2.5 s the one with the highest priority holds the cube; at equal
// priority the one holding it keeps it. DDP has no priority field and counts as 100, E1.31's
// usual one. A source is lost 2.5 s after its last packet, an E1.31 source at once when it says
// its stream ended.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "frames.h"
#include "pixel_planes.h"

class LightReceiver {
  public:
    using Clock = std::chrono::steady_clock;
    using Tell = std::function<void(const std::string&)>;

    // `news` gets each line for the user, once: "The cube is lit by Show over E1.31 (from
    // 192.168.1.20)", "The cube is lit over DDP (from 192.168.1.20)", "The cube shows the music
    // again", and "E1.31 arrives for universe 7, but the cube shows universe 1" when E1.31 comes
    // for other universes only. `changed` is called whenever what the cube should show changes,
    // so the cube's thread can wake. Both run on the thread that fed or asked the receiver,
    // outside its lock (the lines in order), and must not call back into it.
    explicit LightReceiver(Tell news, std::function<void()> changed = nullptr);

    // The E1.31 universe to show (1 to 63999, 1 at first); E1.31 sources of the old one go.
    void setUniverse(int universe);
    int universe() const;

    // One datagram as it arrived on port 5568 or 4048, from `sender` ("192.168.1.20").
    void receiveE131(const std::uint8_t* datagram, std::size_t size, const std::string& sender,
                     Clock::time_point at);
    void receiveDdp(const std::uint8_t* datagram, std::size_t size, const std::string& sender,
                    Clock::time_point at);
    // Forgets the sources that went quiet by `now`: the receiving thread calls it between
    // datagrams, so the music's return is told on time even while the cube's thread waits.
    void expire(Clock::time_point now);

    // The cube's thread: wait (waitForChange, or on `changed`), take newestFor, write it, say
    // frameWritten. A frame takes 14 ms on the line, so frames that came meanwhile are never
    // queued: the next one taken is the newest.
    // The frame the cube should show now, or nullopt for the music.
    std::optional<CubePlanes> newestFor(Clock::time_point now);
    // The cube's thread wrote what newestFor gave it last.
    void frameWritten();
    // Waits up to `limit` until what the cube should show differs from what was last written;
    // true if it does.
    bool waitForChange(std::chrono::milliseconds limit);

    // Datagrams that were not pixels for us: malformed, out of order, previews, other start
    // codes, queries, more sources than are kept. E1.31 for other universes is not counted.
    std::uint64_t droppedCount() const;

  private:
    struct Source {
        std::string key;  // "E1.31 " and the CID's bytes, or "DDP " and the address
        std::string name; // E1.31's source name, safe to print
        std::string sender;
        bool ddp = false;
        int priority = 100;
        int sequence = 0;
        Clock::time_point last;
        std::optional<CubePlanes> planes;   // none yet: a DDP frame waiting for its push
        std::vector<std::uint8_t> channels; // a DDP frame as it builds up
    };
    struct Told { // what to tell once the lock is let go
        std::vector<std::string> news;
        bool changed = false;
    };

    Source* find(const std::string& key);
    Source* add(const std::string& key, const std::string& sender, Clock::time_point at);
    void show(Source* source, const CubePlanes& planes, Told* told);
    void expireLocked(Clock::time_point now, Told* told);
    void elect(Told* told);
    void noteOtherUniverse(int universe, Clock::time_point at, Told* told);
    void tell(std::unique_lock<std::mutex>& lock, const Told& told);

    Tell news_;
    std::function<void()> changed_;
    mutable std::mutex mutex_;
    std::mutex tellMutex_; // keeps the lines in order when two threads tell
    std::condition_variable changedSignal_;
    int universe_ = 1;
    std::vector<Source> sources_;
    std::string holder_;            // its key; empty: the music
    std::set<std::string> pushers_; // DDP senders that ever set push
    std::uint64_t version_ = 0;     // of what the cube should show
    std::uint64_t handedOut_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    std::optional<Clock::time_point> lastOurs_;
    std::optional<Clock::time_point> otherSince_;
    bool otherTold_ = false;
};
