#include "platform/udp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix/system_error.h"

namespace quelvar::platform {

namespace {

bool toSocketAddress(const std::string& address, int port, sockaddr_in& socketAddress) {
    socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<std::uint16_t>(port));
    if (address.empty()) {
        socketAddress.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_aton(address.c_str(), &socketAddress.sin_addr) != 0;
}

std::string portText(int port) { return "port " + std::to_string(port); }

std::string peerText(const Peer& peer) { return peer.address + ":" + std::to_string(peer.port); }

}  // namespace

Status openUdpSocket(SocketHandle& handle) {
    handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (handle < 0) {
        handle = invalidSocket;
        return systemError("open", "UDP socket", errno);
    }
    return {};
}

void setSocketOptions(SocketHandle handle, int sendBufferBytes, int receiveBufferBytes) {
    setsockopt(handle, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes);
    setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
}

void setReceiveTimeout(SocketHandle handle, int milliseconds) {
    const timeval limit{milliseconds / 1000, static_cast<suseconds_t>(milliseconds % 1000) * 1000};
    setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
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

Status bindUdpPort(SocketHandle handle, int port) {
    sockaddr_in local{};
    toSocketAddress({}, port, local);
    if (bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return {};
    return systemError("bind UDP", portText(port), errno);
}

namespace {

Status receiveWith(int flags, SocketHandle handle, unsigned char* buffer, std::size_t size, std::size_t& length,
                   Peer* sender) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t received = recvfrom(handle, buffer, size, flags, reinterpret_cast<sockaddr*>(&from), &fromLength);
    length = 0;
    if (received < 0) {
        // Nothing came in time, or a signal came first: nothing received.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {};
        return systemError("receive on", "UDP socket", errno);
    }
    length = static_cast<std::size_t>(received);
    if (sender != nullptr) {
        char dotted[INET_ADDRSTRLEN] = {};
        sender->address = inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
        sender->port = ntohs(from.sin_port);
        sender->ipv4 = ntohl(from.sin_addr.s_addr);
    }
    return {};
}

}  // namespace

Status receiveDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::size_t& length,
                       Peer* sender) {
    return receiveWith(0, handle, buffer, size, length, sender);
}

Status receiveWaitingDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::size_t& length,
                              Peer* sender) {
    return receiveWith(MSG_DONTWAIT, handle, buffer, size, length, sender);
}

Status sendDatagram(SocketHandle handle, const unsigned char* bytes, std::size_t count, const Peer& target) {
    sockaddr_in to{};
    if (!toSocketAddress(target.address, target.port, to)) return systemError("send to", peerText(target), EINVAL);
    const ssize_t sent = sendto(handle, bytes, count, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) return systemError("send to", peerText(target), errno);
    if (static_cast<std::size_t>(sent) != count) return systemError("send to", peerText(target), EMSGSIZE);
    return {};
}

Status sendConnected(SocketHandle handle, const unsigned char* bytes, std::size_t count) {
    const ssize_t sent = send(handle, bytes, count, 0);
    if (sent < 0) return systemError("send on", "UDP socket", errno);
    if (static_cast<std::size_t>(sent) != count) return systemError("send on", "UDP socket", EMSGSIZE);
    return {};
}

void closeSocket(SocketHandle handle) {
    shutdown(handle, SHUT_RDWR);
    close(handle);
}

Status waitForDatagram(SocketHandle handle, int timeoutMilliseconds, bool& ready) {
    pollfd waiting{handle, POLLIN, 0};
    for (;;) {
        const int count = poll(&waiting, 1, timeoutMilliseconds);
        if (count >= 0) {
            ready = count > 0;
            return {};
        }
        if (errno != EINTR) {
            ready = false;
            return systemError("wait on", "UDP socket", errno);
        }
    }
}

bool isDottedAddress(const std::string& host) {
    in_addr parsed{};
    return inet_aton(host.c_str(), &parsed) != 0;
}

Status lookupHost(const std::string& host, std::string& dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (error != 0 || found == nullptr)
        return Status::error(Status::Code::notFound, "look up", host, error != 0 ? gai_strerror(error) : "no address");
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool shown = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    if (!shown) return systemError("look up", host, errno);
    dotted = text;
    return {};
}

}  // namespace quelvar::platform
