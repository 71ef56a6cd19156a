// The UDP sockets the light receivers listen on: the one place they meet the platform's
// network. One implementation per platform (win32/udp_socket.cpp, linux/udp_socket.cpp), chosen
// by the build. IPv4 only: E1.31 and DDP senders send IPv4. Addresses are in host byte order.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class UdpSocket {
  public:
    enum class Opened { kOpen, kPortInUse, kFailed };
    enum class Received { kDatagram, kNothing, kTooLarge, kFailed };

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to `port` on every IPv4 address of the machine, sharing the port with other
    // receivers that allow it (SO_REUSEADDR), with a receive buffer for bursts; never blocks on
    // receive. On kFailed `error` gets the system's words; kPortInUse needs none.
    Opened open(std::uint16_t port, std::string* error);
    bool isOpen() const { return handle_ != kClosed; }
    void close();

    // The IPv4 addresses of the interfaces that are up and can take multicast, loopback too.
    std::vector<std::uint32_t> multicastInterfaces() const;
    // Joins `group` on the interface with address `interfaceAddress`; true if it is joined now,
    // also when it was already.
    bool joinGroup(std::uint32_t group, std::uint32_t interfaceAddress);
    void leaveGroup(std::uint32_t group, std::uint32_t interfaceAddress);

    // The datagram waiting, if any: its size and its sender's address. kTooLarge: one that did
    // not fit `capacity` was thrown away.
    Received receive(std::uint8_t* buffer, std::size_t capacity, std::size_t* size,
                     std::uint32_t* sender);

  private:
    friend bool waitForDatagram(UdpSocket* const* sockets, std::size_t count,
                                std::chrono::milliseconds limit);
    static const std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed; // SOCKET on Windows, a descriptor elsewhere
};

// Waits up to `limit` until one of the open `sockets` has a datagram; false if none came. With
// no socket open it just waits.
bool waitForDatagram(UdpSocket* const* sockets, std::size_t count, std::chrono::milliseconds limit);
