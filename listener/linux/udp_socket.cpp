// BSD sockets as Linux has them.
#include "udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Room for a second or two of a busy sender's datagrams; the kernel caps it at rmem_max.
static const int kReceiveBuffer = 1 << 20;

UdpSocket::~UdpSocket() {
    close();
}

UdpSocket::Opened UdpSocket::open(std::uint16_t port, std::string* error) {
    close();
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return Opened::kFailed;
    }
    int on = 1, off = 0, buffer = kReceiveBuffer;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    // Otherwise Linux hands us every group any socket on the machine joined for this port.
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, (const sockaddr*)&address, sizeof address) != 0) {
        int reason = errno;
        ::close(fd);
        if (reason == EADDRINUSE)
            return Opened::kPortInUse;
        *error = std::strerror(reason);
        return Opened::kFailed;
    }
    handle_ = fd;
    return Opened::kOpen;
}

void UdpSocket::close() {
    if (handle_ != kClosed)
        ::close((int)handle_);
    handle_ = kClosed;
}

std::vector<std::uint32_t> UdpSocket::multicastInterfaces() const {
    std::vector<std::uint32_t> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
            !(entry->ifa_flags & IFF_UP) || !(entry->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK)))
            continue;
        std::uint32_t address = ntohl(((const sockaddr_in*)entry->ifa_addr)->sin_addr.s_addr);
        bool seen = false;
        for (std::uint32_t other : found)
            seen = seen || other == address;
        if (!seen)
            found.push_back(address);
    }
    freeifaddrs(list);
    return found;
}

static ip_mreq membership(std::uint32_t group, std::uint32_t interfaceAddress) {
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(interfaceAddress);
    return request;
}

bool UdpSocket::joinGroup(std::uint32_t group, std::uint32_t interfaceAddress) {
    ip_mreq request = membership(group, interfaceAddress);
    return setsockopt((int)handle_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 ||
           errno == EADDRINUSE;
}

void UdpSocket::leaveGroup(std::uint32_t group, std::uint32_t interfaceAddress) {
    ip_mreq request = membership(group, interfaceAddress);
    setsockopt((int)handle_, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
}

UdpSocket::Received UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity,
                                       std::size_t* size, std::uint32_t* sender) {
    sockaddr_in from = {};
    socklen_t fromSize = sizeof from;
    // MSG_TRUNC: the datagram's own length, so one too large is known as such.
    ssize_t got = recvfrom((int)handle_, buffer, capacity, MSG_TRUNC, (sockaddr*)&from, &fromSize);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Received::kNothing
                                                                         : Received::kFailed;
    if ((std::size_t)got > capacity)
        return Received::kTooLarge;
    *size = (std::size_t)got;
    *sender = ntohl(from.sin_addr.s_addr);
    return Received::kDatagram;
}

bool waitForDatagram(UdpSocket* const* sockets, std::size_t count,
                     std::chrono::milliseconds limit) {
    std::vector<pollfd> waits(count);
    for (std::size_t i = 0; i < count; ++i) {
        // A closed one waits on -1, which poll passes over: with none open it only sleeps.
        waits[i].fd = sockets[i]->isOpen() ? (int)sockets[i]->handle_ : -1;
        waits[i].events = POLLIN;
    }
    return poll(waits.data(), waits.size(), (int)limit.count()) > 0;
}
