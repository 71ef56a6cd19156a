// Winsock 2. <winsock2.h> comes before anything that brings in <windows.h>, whose old
// <winsock.h> would clash with it.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "udp_socket.h"

// Room for a second or two of a busy sender's datagrams.
static const int kReceiveBuffer = 1 << 20;
// Interfaces asked for at most: a machine with more than this is not the cube's.
enum { kMaxInterfaces = 64 };

static std::string errorText(int code) {
    return "error " + std::to_string(code);
}

UdpSocket::~UdpSocket() {
    close();
}

UdpSocket::Opened UdpSocket::open(std::uint16_t port, std::string* error) {
    close();
    // Counted by Winsock: every socket that started it ends it in close().
    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        *error = errorText(started);
        return Opened::kFailed;
    }
    SOCKET handle = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (handle == INVALID_SOCKET) {
        *error = errorText(WSAGetLastError());
        WSACleanup();
        return Opened::kFailed;
    }
    BOOL on = TRUE;
    int buffer = kReceiveBuffer;
    u_long nonBlocking = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, (const char*)&on, sizeof on);
    setsockopt(handle, SOL_SOCKET, SO_RCVBUF, (const char*)&buffer, sizeof buffer);
    ioctlsocket(handle, FIONBIO, &nonBlocking);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(handle, (const sockaddr*)&address, sizeof address) != 0) {
        int reason = WSAGetLastError();
        closesocket(handle);
        WSACleanup();
        // WSAEACCES: a program holds it with SO_EXCLUSIVEADDRUSE.
        if (reason == WSAEADDRINUSE || reason == WSAEACCES)
            return Opened::kPortInUse;
        *error = errorText(reason);
        return Opened::kFailed;
    }
    handle_ = (std::intptr_t)handle;
    return Opened::kOpen;
}

void UdpSocket::close() {
    if (handle_ == kClosed)
        return;
    closesocket((SOCKET)handle_);
    handle_ = kClosed;
    WSACleanup();
}

std::vector<std::uint32_t> UdpSocket::multicastInterfaces() const {
    std::vector<std::uint32_t> found;
    INTERFACE_INFO interfaces[kMaxInterfaces];
    DWORD bytes = 0;
    if (!isOpen() || WSAIoctl((SOCKET)handle_, SIO_GET_INTERFACE_LIST, NULL, 0, interfaces,
                              sizeof interfaces, &bytes, NULL, NULL) != 0)
        return found;
    for (DWORD i = 0; i < bytes / sizeof interfaces[0]; ++i) {
        const INTERFACE_INFO& entry = interfaces[i];
        if (entry.iiAddress.Address.sa_family != AF_INET || !(entry.iiFlags & IFF_UP) ||
            !(entry.iiFlags & (IFF_MULTICAST | IFF_LOOPBACK)))
            continue;
        std::uint32_t address = ntohl(entry.iiAddress.AddressIn.sin_addr.s_addr);
        bool seen = false;
        for (std::uint32_t other : found)
            seen = seen || other == address;
        if (!seen)
            found.push_back(address);
    }
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
    return setsockopt((SOCKET)handle_, IPPROTO_IP, IP_ADD_MEMBERSHIP, (const char*)&request,
                      sizeof request) == 0 ||
           WSAGetLastError() == WSAEADDRINUSE;
}

void UdpSocket::leaveGroup(std::uint32_t group, std::uint32_t interfaceAddress) {
    ip_mreq request = membership(group, interfaceAddress);
    setsockopt((SOCKET)handle_, IPPROTO_IP, IP_DROP_MEMBERSHIP, (const char*)&request,
               sizeof request);
}

UdpSocket::Received UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity,
                                       std::size_t* size, std::uint32_t* sender) {
    sockaddr_in from = {};
    int fromSize = sizeof from;
    int got =
        recvfrom((SOCKET)handle_, (char*)buffer, (int)capacity, 0, (sockaddr*)&from, &fromSize);
    if (got == SOCKET_ERROR) {
        switch (WSAGetLastError()) {
        case WSAEWOULDBLOCK:
        case WSAECONNRESET: // an ICMP error for some earlier datagram: nothing to do with us
        case WSAEINTR:
            return Received::kNothing;
        case WSAEMSGSIZE:
            return Received::kTooLarge;
        default:
            return Received::kFailed;
        }
    }
    *size = (std::size_t)got;
    *sender = ntohl(from.sin_addr.s_addr);
    return Received::kDatagram;
}

bool waitForDatagram(UdpSocket* const* sockets, std::size_t count,
                     std::chrono::milliseconds limit) {
    fd_set readable;
    FD_ZERO(&readable);
    for (std::size_t i = 0; i < count; ++i)
        if (sockets[i]->isOpen())
            FD_SET((SOCKET)sockets[i]->handle_, &readable);
    if (readable.fd_count == 0) { // select refuses empty sets
        Sleep((DWORD)limit.count());
        return false;
    }
    timeval wait;
    wait.tv_sec = (long)(limit.count() / 1000);
    wait.tv_usec = (long)(limit.count() % 1000 * 1000);
    return select(0, &readable, NULL, NULL, &wait) > 0;
}
