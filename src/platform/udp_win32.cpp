#include "platform/udp.h"

#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/error_win32.h"

namespace quelvar::platform {

namespace {

// Winsock is started once for the life of the process, by the first
// operation that needs it.
bool socketsReady() {
    static const bool started = [] {
        WSADATA data{};
        const int error = WSAStartup(MAKEWORD(2, 2), &data);
        if (error != 0) rememberError(static_cast<DWORD>(error));
        return error == 0;
    }();
    return started;
}

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

int lengthOf(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

// Dotted forms as inet_aton reads them ("127.1" too); inet_addr cannot tell
// the broadcast address from a failure by its result alone.
bool parseDotted(const std::string& text, in_addr& address) {
    const unsigned long value = inet_addr(text.c_str());
    if (value == INADDR_NONE && text != "255.255.255.255") return false;
    address.s_addr = value;
    return true;
}

bool toSocketAddress(const std::string& address, int port, sockaddr_in& socketAddress) {
    std::memset(&socketAddress, 0, sizeof socketAddress);
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

}  // namespace

bool startSocketLayer(int& major, int& minor) {
    WSADATA data{};
    const int error = WSAStartup(MAKEWORD(1, 1), &data);
    if (error != 0) return rememberError(static_cast<DWORD>(error));
    major = LOBYTE(data.wVersion);
    minor = HIBYTE(data.wVersion);
    return true;
}

void stopSocketLayer() { WSACleanup(); }

SocketHandle openUdpSocket() {
    if (!socketsReady()) return invalidSocket;
    const SOCKET handle = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (handle == INVALID_SOCKET) {
        rememberError(static_cast<DWORD>(WSAGetLastError()));
        return invalidSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    // Otherwise an answer to a sender that has gone away comes back as an
    // ICMP "port unreachable", and the next receive fails because of it.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(handle, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    return static_cast<SocketHandle>(handle);
}

void setSocketOptions(SocketHandle handle, int sendBufferBytes, int receiveBufferBytes) {
    setsockopt(native(handle), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBufferBytes),
               sizeof sendBufferBytes);
    setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
               sizeof receiveBufferBytes);
}

int enlargeReceiveBuffer(SocketHandle handle, int bytes) {
    // Winsock has no system-wide limit below what is asked here.
    setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
    int granted = 0;
    int length = sizeof granted;
    getsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length);
    return granted;
}

bool bindUdpPort(SocketHandle handle, int port) {
    // A second collector on the same machine must fail to bind rather than
    // share the port's datagrams with the first.
    const BOOL exclusive = TRUE;
    setsockopt(native(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in local{};
    toSocketAddress({}, port, local);
    if (bind(native(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) return true;
    return rememberError(static_cast<DWORD>(WSAGetLastError()));
}

long receiveDatagram(SocketHandle handle, unsigned char* buffer, std::size_t size, std::string* address, int* port) {
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    const int received = recvfrom(native(handle), reinterpret_cast<char*>(buffer), lengthOf(size), 0,
                                  reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received == SOCKET_ERROR) {
        rememberError(static_cast<DWORD>(WSAGetLastError()));
        return -1;
    }
    if (received > 0) {
        if (address != nullptr) *address = dottedText(sender.sin_addr);
        if (port != nullptr) *port = ntohs(sender.sin_port);
    }
    return received;
}

bool sendDatagram(SocketHandle handle, const unsigned char* bytes, std::size_t count, const std::string& address,
                  int port) {
    sockaddr_in target{};
    if (!toSocketAddress(address, port, target)) return rememberError(WSAEINVAL);
    const int sent = sendto(native(handle), reinterpret_cast<const char*>(bytes), lengthOf(count), 0,
                            reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (sent == SOCKET_ERROR) return rememberError(static_cast<DWORD>(WSAGetLastError()));
    return static_cast<std::size_t>(sent) == count;
}

bool sendConnected(SocketHandle handle, const unsigned char* bytes, std::size_t count) {
    const int sent = send(native(handle), reinterpret_cast<const char*>(bytes), lengthOf(count), 0);
    if (sent == SOCKET_ERROR) return rememberError(static_cast<DWORD>(WSAGetLastError()));
    return static_cast<std::size_t>(sent) == count;
}

void closeSocket(SocketHandle handle) { closesocket(native(handle)); }

int waitForDatagram(SocketHandle handle, int timeoutMilliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(handle), &readable);
    timeval limit{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, timeoutMilliseconds < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR) {
        rememberError(static_cast<DWORD>(WSAGetLastError()));
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

bool isDottedAddress(const std::string& host) {
    in_addr parsed{};
    return socketsReady() && parseDotted(host, parsed);
}

bool lookupHost(const std::string& host, std::string& dotted) {
    if (!socketsReady()) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    dotted = dottedText(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace quelvar::platform
