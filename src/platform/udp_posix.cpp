#include "platform/udp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/error_posix.h"

namespace quelvar::platform {

namespace {

bool toSocketAddress(const std::string& address, int port, sockaddr_in& socketAddress) {
    std::memset(&socketAddress, 0, sizeof socketAddress);
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<std::uint16_t>(port));
    if (address.empty()) {
        socketAddress.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_aton(address.c_str(), &socketAddress.sin_addr) != 0;
}

}  // namespace

bool startSocketLayer(int& major, int& minor) {
    major = 1;
    minor = 1;
    return true;
}

void stopSocketLayer() {}

SocketHandle openUdpSocket() {
    const int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (handle < 0) rememberError(errno);
    return handle < 0 ? invalidSocket : handle;
}

void setSocketOptions(SocketHandle handle, int sendBufferBytes, int receiveBufferBytes) {
    const int on = 1;
    setsockopt(handle, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes);
    setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

int enlargeReceiveBuffer(SocketHandle handle, int bytes) {
    // The forced size needs CAP_NET_ADMIN; without it the kernel holds the
    // request to net.core.rmem_max.
    if (setsockopt(handle, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    getsockopt(handle, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    return granted;
}

bool bindUdpPort(SocketHandle handle, int port) {
    sockaddr_in local{};
    toSocketAddress({}, port, local);
    if (bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return true;
    return rememberError(errno);
}

long receiveDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::string* address, int* port) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t received =
        recvfrom(handle, buffer, size, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) {
        rememberError(errno);
        return -1;
    }
    if (received > 0) {
        char dotted[INET_ADDRSTRLEN] = {};
        if (address != nullptr) *address = inet_ntop(AF_INET, &sender.sin_addr, dotted, sizeof dotted);
        if (port != nullptr) *port = ntohs(sender.sin_port);
    }
    return static_cast<long>(received);
}

bool sendDatagram(SocketHandle handle, const unsigned char* bytes, std::size_t count, const std::string& address,
                  int port) {
    sockaddr_in target{};
    if (!toSocketAddress(address, port, target)) return rememberError(EINVAL);
    const ssize_t sent = sendto(handle, bytes, count, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (sent < 0) return rememberError(errno);
    return static_cast<std::size_t>(sent) == count;
}

bool sendConnected(SocketHandle handle, const unsigned char* bytes, std::size_t count) {
    const ssize_t sent = send(handle, bytes, count, 0);
    if (sent < 0) return rememberError(errno);
    return static_cast<std::size_t>(sent) == count;
}

void closeSocket(SocketHandle handle) {
    shutdown(handle, SHUT_RDWR);
    close(handle);
}

int waitForDatagram(SocketHandle handle, int timeoutMilliseconds) {
    pollfd waiting{handle, POLLIN, 0};
    for (;;) {
        const int ready = poll(&waiting, 1, timeoutMilliseconds);
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

bool isDottedAddress(const std::string& host) {
    in_addr parsed{};
    return inet_aton(host.c_str(), &parsed) != 0;
}

bool lookupHost(const std::string& host, std::string& dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    if (ok) dotted = text;
    return ok;
}

}  // namespace quelvar::platform
