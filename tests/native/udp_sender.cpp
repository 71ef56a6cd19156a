#include "udp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace harness {

UdpSender::UdpSender() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    in_addr loopback = {};
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char on = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &on, sizeof on);
}

UdpSender::~UdpSender() {
    close(fd_);
}

bool UdpSender::send(const std::string& address, int port,
                     const std::vector<std::uint8_t>& datagram, std::string* error) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((std::uint16_t)port);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    if (sendto(fd_, datagram.data(), datagram.size(), 0, (const sockaddr*)&to, sizeof to) ==
        (ssize_t)datagram.size())
        return true;
    if (error)
        *error = std::strerror(errno);
    return false;
}

bool loopbackCarriesMulticast() {
    static const char kGroup[] = "239.255.250.1"; // a group of no lighting program's
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound = {};
    bound.sin_family = AF_INET;
    socklen_t size = sizeof bound;
    ip_mreq request = {};
    inet_pton(AF_INET, kGroup, &request.imr_multiaddr);
    request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    bool arrived = false;
    if (bind(fd, (const sockaddr*)&bound, sizeof bound) == 0 &&
        getsockname(fd, (sockaddr*)&bound, &size) == 0 &&
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 &&
        UdpSender().send(kGroup, ntohs(bound.sin_port), {1, 2, 3})) {
        pollfd wait = {fd, POLLIN, 0};
        arrived = poll(&wait, 1, 1000) == 1;
    }
    close(fd);
    return arrived;
}

bool udpPortIsFree(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((std::uint16_t)port);
    bool free = bind(fd, (const sockaddr*)&address, sizeof address) == 0;
    close(fd);
    return free;
}

} // namespace harness
