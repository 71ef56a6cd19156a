// Datagrams as other lighting programs send them to the machine under test: to an address, or
// to a multicast group by way of the loopback interface. Part of the harness.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

class UdpSender {
  public:
    UdpSender(); // multicast leaves through loopback and comes back to this machine
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // False with the reason in `error` when the system refused to send it.
    bool send(const std::string& address, int port, const std::vector<std::uint8_t>& datagram,
              std::string* error = nullptr);

  private:
    int fd_;
};

// Whether a datagram sent to a multicast group through loopback reaches a socket that joined
// it there: some machines' loopback does not carry multicast (no route, or a kernel without it).
bool loopbackCarriesMulticast();

// Whether a socket could have the UDP port to itself (bound without SO_REUSEADDR): nobody on the
// machine holds it.
bool udpPortIsFree(int port);

} // namespace harness
