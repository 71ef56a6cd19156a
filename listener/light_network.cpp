#include "light_network.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "ddp_packet.h"
#include "e131_packet.h"
#include "light_receiver.h"
#include "udp_socket.h"

using Clock = std::chrono::steady_clock;

// The longest the thread waits for a datagram: what stop() and a universe change wait at most.
static const std::chrono::milliseconds kWaitLimit(100);
static const std::chrono::seconds kReopenEvery(5);
static const std::chrono::seconds kReopenBrokenAfter(1);
// Interfaces come and go (a laptop joins a Wi-Fi network): the group is joined on new ones so
// often.
static const std::chrono::seconds kRejoinEvery(10);
// Datagrams taken from each port before the thread looks at stop and time-outs again.
static const int kDrainBurst = 64;
// More than any IPv4 datagram can hold, so none is ever cut.
enum { kLargestDatagram = 65536 };

std::uint32_t e131Group(int universe) {
    return 0xEFFF0000u | ((std::uint32_t)universe & 0xFFFF);
}

std::string dottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

namespace {

// One port, and what was told the last time it would not open.
struct Port {
    const char* protocol;
    std::uint16_t number;
    UdpSocket socket;
    std::string told;

    bool tryOpen(const LightNetwork::Tell& failure) {
        std::string error;
        UdpSocket::Opened opened = socket.open(number, &error);
        if (opened == UdpSocket::Opened::kOpen) {
            told.clear();
            return true;
        }
        std::string text = "Cannot receive " + std::string(protocol);
        if (opened == UdpSocket::Opened::kPortInUse)
            text += ": port " + std::to_string(number) + " is in use by another program";
        else
            text += " on port " + std::to_string(number) + ": " + error;
        if (text != told && failure)
            failure(text);
        told = text;
        return false;
    }
};

// The interfaces on which the E1.31 socket has joined its universe's group.
class Membership {
  public:
    int universe() const { return universe_; }
    void forget() {
        universe_ = 0;
        interfaces_.clear();
    }

    void keep(UdpSocket& socket, int universe) {
        if (universe != universe_) {
            for (std::uint32_t address : interfaces_)
                socket.leaveGroup(e131Group(universe_), address);
            interfaces_.clear();
            universe_ = universe;
        }
        std::vector<std::uint32_t> present = socket.multicastInterfaces();
        // One that went is joined again should it come back.
        interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                         [&](std::uint32_t address) {
                                             return std::find(present.begin(), present.end(),
                                                              address) == present.end();
                                         }),
                          interfaces_.end());
        for (std::uint32_t address : present)
            if (std::find(interfaces_.begin(), interfaces_.end(), address) == interfaces_.end() &&
                socket.joinGroup(e131Group(universe), address))
                interfaces_.push_back(address);
    }

  private:
    int universe_ = 0;
    std::vector<std::uint32_t> interfaces_;
};

} // namespace

LightNetwork::~LightNetwork() {
    stop();
}

void LightNetwork::start(int universe, LightReceiver* receiver, Tell failure) {
    stop();
    receiver->setUniverse(universe);
    receiver_ = receiver;
    failure_ = std::move(failure);
    universe_ = universe;
    stopWanted_ = false;
    thread_ = std::thread([this] { run(); });
}

void LightNetwork::setUniverse(int universe) {
    universe_ = universe;
    if (receiver_)
        receiver_->setUniverse(universe);
}

void LightNetwork::stop() {
    stopWanted_ = true;
    if (thread_.joinable())
        thread_.join();
}

// Hands one waiting datagram of the port to the receiver; false if none waited.
static bool handOver(Port& port, std::vector<std::uint8_t>& buffer, LightReceiver* receiver,
                     Clock::time_point* nextOpen) {
    if (!port.socket.isOpen())
        return false;
    std::size_t size = 0;
    std::uint32_t sender = 0;
    UdpSocket::Received got = port.socket.receive(buffer.data(), buffer.size(), &size, &sender);
    if (got == UdpSocket::Received::kNothing)
        return false;
    if (got == UdpSocket::Received::kFailed) {
        // The network stack went away under it (a driver reset): a new socket soon.
        port.socket.close();
        *nextOpen = std::min(*nextOpen, Clock::now() + kReopenBrokenAfter);
        return false;
    }
    // One cut short is handed over empty, so it counts as dropped.
    if (got == UdpSocket::Received::kTooLarge)
        size = 0;
    if (port.number == kE131Port)
        receiver->receiveE131(buffer.data(), size, dottedAddress(sender), Clock::now());
    else
        receiver->receiveDdp(buffer.data(), size, dottedAddress(sender), Clock::now());
    return true;
}

void LightNetwork::run() {
    Port ports[2] = {{"E1.31", kE131Port, {}, {}}, {"DDP", kDdpPort, {}, {}}};
    Port& e131 = ports[0];
    Membership membership;
    std::vector<std::uint8_t> buffer(kLargestDatagram);
    Clock::time_point nextOpen = Clock::now(), nextJoin = nextOpen;
    while (!stopWanted_) {
        Clock::time_point now = Clock::now();
        if (now >= nextOpen) {
            for (Port& port : ports)
                if (!port.socket.isOpen() && port.tryOpen(failure_) && &port == &e131) {
                    membership.forget();
                    nextJoin = now;
                }
            nextOpen = now + kReopenEvery;
        }
        int universe = universe_;
        if (e131.socket.isOpen() && (now >= nextJoin || membership.universe() != universe)) {
            membership.keep(e131.socket, universe);
            nextJoin = now + kRejoinEvery;
        }
        UdpSocket* sockets[2] = {&ports[0].socket, &ports[1].socket};
        bool waiting = waitForDatagram(sockets, 2, kWaitLimit);
        // Turn about, so a flood on one port never starves the other.
        for (int round = 0; waiting && round < kDrainBurst; ++round) {
            bool fromE131 = handOver(ports[0], buffer, receiver_, &nextOpen);
            bool fromDdp = handOver(ports[1], buffer, receiver_, &nextOpen);
            waiting = fromE131 || fromDdp;
        }
        receiver_->expire(Clock::now());
    }
}
