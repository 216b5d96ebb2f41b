#include "platform/udp.h"

#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdio>

#include "platform/win32/system_error.h"

namespace quelvar::platform {

namespace {

// Winsock is started once for the life of the process, by the first
// operation that needs it, and must give version 2.2.
Status socketsReady() {
    static const Status started = [] {
        WSADATA data{};
        const int error = WSAStartup(MAKEWORD(2, 2), &data);
        if (error != 0)
            return systemError(Status::Code::unavailable, "start", "the socket library", static_cast<DWORD>(error));
        if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
            WSACleanup();
            return Status::error(Status::Code::unsupported, "start", "the socket library",
                                 "version 2.2 is not available");
        }
        return Status();
    }();
    return started;
}

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

int lengthOf(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

DWORD socketError() { return static_cast<DWORD>(WSAGetLastError()); }

// Dotted forms as inet_aton reads them ("127.1" too); inet_addr cannot tell
// the broadcast address from a failure by its result alone.
bool parseDotted(const std::string& text, in_addr& address) {
    const unsigned long value = inet_addr(text.c_str());
    if (value == INADDR_NONE && text != "255.255.255.255") return false;
    address.s_addr = value;
    return true;
}

bool toSocketAddress(const std::string& address, int port, sockaddr_in& socketAddress) {
    socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<u_short>(port));
    if (address.empty()) {
        socketAddress.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return parseDotted(address, socketAddress.sin_addr);
}

std::string dottedText(const in_addr& address) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string portText(int port) { return "port " + std::to_string(port); }

std::string peerText(const Peer& peer) { return peer.address + ":" + std::to_string(peer.port); }

}  // namespace

Status openUdpSocket(SocketHandle& handle) {
    handle = invalidSocket;
    if (Status ready = socketsReady(); !ready.ok()) return ready;
    const SOCKET opened = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (opened == INVALID_SOCKET) return systemError("open", "UDP socket", socketError());
    SetHandleInformation(reinterpret_cast<HANDLE>(opened), HANDLE_FLAG_INHERIT, 0);
    // Otherwise an answer to a sender that has gone away comes back as an
    // ICMP "port unreachable", and the next receive fails because of it.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(opened, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    handle = static_cast<SocketHandle>(opened);
    return {};
}

void setSocketOptions(SocketHandle handle, int sendBufferBytes, int receiveBufferBytes) {
    setsockopt(native(handle), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBufferBytes),
               sizeof sendBufferBytes);
    setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
               sizeof receiveBufferBytes);
}

void setReceiveTimeout(SocketHandle handle, int milliseconds) {
    const DWORD limit = milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds);
    setsockopt(native(handle), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

int enlargeReceiveBuffer(SocketHandle handle, int bytes) {
    // Winsock has no system-wide limit below what is asked here.
    setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
    int granted = 0;
    int length = sizeof granted;
    getsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length);
    return granted;
}

Status bindUdpPort(SocketHandle handle, int port) {
    // A second collector on the same machine must fail to bind rather than
    // share the port's datagrams with the first.
    const BOOL exclusive = TRUE;
    setsockopt(native(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in local{};
    toSocketAddress({}, port, local);
    if (bind(native(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return {};
    return systemError("bind UDP", portText(port), socketError());
}

Status receiveDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::size_t& length,
                       Peer* sender) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int received = recvfrom(native(handle), reinterpret_cast<char*>(buffer), lengthOf(size), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    length = 0;
    if (received == SOCKET_ERROR) {
        const DWORD error = socketError();
        // Nothing came in time, or the wait was cut short: nothing received.
        if (error == WSAETIMEDOUT || error == WSAEINTR || error == WSAEWOULDBLOCK) return {};
        return systemError("receive on", "UDP socket", error);
    }
    length = static_cast<std::size_t>(received);
    if (sender != nullptr) {
        sender->address = dottedText(from.sin_addr);
        sender->port = ntohs(from.sin_port);
        sender->ipv4 = ntohl(from.sin_addr.s_addr);
    }
    return {};
}

Status receiveWaitingDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::size_t& length,
                              Peer* sender) {
    length = 0;
    bool ready = false;
    if (Status waited = waitForDatagram(handle, 0, ready); !waited.ok() || !ready) return waited;
    return receiveDatagram(handle, buffer, size, length, sender);
}

Status sendDatagram(SocketHandle handle, const unsigned char* bytes, std::size_t count, const Peer& target) {
    sockaddr_in to{};
    if (!toSocketAddress(target.address, target.port, to)) return systemError("send to", peerText(target), WSAEINVAL);
    const int sent = sendto(native(handle), reinterpret_cast<const char*>(bytes), lengthOf(count), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == SOCKET_ERROR) return systemError("send to", peerText(target), socketError());
    if (static_cast<std::size_t>(sent) != count) return systemError("send to", peerText(target), WSAEMSGSIZE);
    return {};
}

Status sendConnected(SocketHandle handle, const unsigned char* bytes, std::size_t count) {
    const int sent = send(native(handle), reinterpret_cast<const char*>(bytes), lengthOf(count), 0);
    if (sent == SOCKET_ERROR) return systemError("send on", "UDP socket", socketError());
    if (static_cast<std::size_t>(sent) != count) return systemError("send on", "UDP socket", WSAEMSGSIZE);
    return {};
}

void closeSocket(SocketHandle handle) { closesocket(native(handle)); }

Status waitForDatagram(SocketHandle handle, int timeoutMilliseconds, bool& ready) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(handle), &readable);
    timeval limit{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    const int count = select(0, &readable, nullptr, nullptr, timeoutMilliseconds < 0 ? nullptr : &limit);
    ready = count > 0;
    if (count == SOCKET_ERROR) {
        ready = false;
        return systemError("wait on", "UDP socket", socketError());
    }
    return {};
}

bool isDottedAddress(const std::string& host) {
    in_addr parsed{};
    return socketsReady().ok() && parseDotted(host, parsed);
}

Status lookupHost(const std::string& host, std::string& dotted) {
    if (Status ready = socketsReady(); !ready.ok()) return ready;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (error != 0 || found == nullptr)
        return systemError(Status::Code::notFound, "look up", host, error != 0 ? static_cast<DWORD>(error) : WSAHOST_NOT_FOUND);
    dotted = dottedText(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
    freeaddrinfo(found);
    return {};
}

}  // namespace quelvar::platform
