// The receiving thread: E1.31 on UDP port 5568 (unicast to any of the machine's addresses, and
// the universe's multicast group on every interface) and DDP on port 4048, each datagram handed
// to a LightReceiver with its sender and arrival time. Its sockets exist only while it runs;
// nothing here keeps the caller waiting for more than a moment. Platform-free apart from
// udp_socket.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class LightReceiver;

// 239.255.hi.lo, the group E1.31 multicasts universe hi * 256 + lo to (host byte order).
std::uint32_t e131Group(int universe);
// "192.168.1.20", from an address in host byte order.
std::string dottedAddress(std::uint32_t address);

class LightNetwork {
  public:
    using Tell = std::function<void(const std::string&)>;

    LightNetwork() = default;
    ~LightNetwork(); // stops
    LightNetwork(const LightNetwork&) = delete;
    LightNetwork& operator=(const LightNetwork&) = delete;

    // Starts the thread (stopping one that runs), which opens both ports and joins the
    // universe's group. A port that will not open is told once through `failure` ("Cannot
    // receive E1.31: port 5568 is in use by another program") and tried again every few
    // seconds. `receiver` must outlive the thread; its universe is set to `universe`.
    void start(int universe, LightReceiver* receiver, Tell failure);
    // The universe's group instead of the old one's, within a tenth of a second.
    void setUniverse(int universe);
    // Ends the thread and closes the sockets, within a tenth of a second or so.
    void stop();
    bool running() const { return thread_.joinable(); }

  private:
    void run();

    LightReceiver* receiver_ = nullptr;
    Tell failure_;
    std::atomic<int> universe_{1};
    std::atomic<bool> stopWanted_{false};
    std::thread thread_;
};
