#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

// IPv4 UDP sockets. On Windows the socket library is started, and its
// version checked, by the first operation that needs it.
namespace quelvar::platform {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle invalidSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle invalidSocket = -1;
#endif

// The largest payload of one IPv4 UDP datagram.
inline constexpr std::size_t largestDatagram = 65507;

// Where a datagram came from: a dotted IPv4 address and a port, and the
// address as a number (host order) where it was received.
struct Peer {
    std::string address;
    int port = 0;
    std::uint32_t ipv4 = 0;
};

// A blocking socket. `unavailable` when the system's socket library cannot
// be started, `unsupported` when it cannot give the version needed.
[[nodiscard]] Status openUdpSocket(SocketHandle& socket);

// Buffer sizes; failures are not reported. No address reuse: no other
// program may share the port.
void setSocketOptions(SocketHandle socket, int sendBufferBytes, int receiveBufferBytes);

// A receive waits at most that long.
void setReceiveTimeout(SocketHandle socket, int milliseconds);

// Asks for a receive buffer of that size, beyond the system's usual limit
// where the process may; gives the size the system granted.
int enlargeReceiveBuffer(SocketHandle socket, int bytes);

// Binds to every local IPv4 address and the port, which no other program
// can then share.
[[nodiscard]] Status bindUdpPort(SocketHandle socket, int port);

// Receives one datagram whole into the buffer: its length and the sender
// when asked for. A length of 0 is an empty datagram, or none at all: the
// wait timed out or a stop request came.
[[nodiscard]] Status receiveDatagram(SocketHandle socket, unsigned char* buffer, std::size_t size, std::size_t& length,
                       Peer* sender);

// The same without waiting: a length of 0 when no datagram is there.
[[nodiscard]] Status receiveWaitingDatagram(SocketHandle socket, unsigned char* buffer, std::size_t size,
                                            std::size_t& length, Peer* sender);

// One datagram of all bytes to a dotted IPv4 address (empty: 0.0.0.0) and port.
[[nodiscard]] Status sendDatagram(SocketHandle socket, const unsigned char* bytes, std::size_t count, const Peer& target);

// One datagram on a connected socket.
[[nodiscard]] Status sendConnected(SocketHandle socket, const unsigned char* bytes, std::size_t count);

void closeSocket(SocketHandle socket);

// Waits until a datagram can be received, at most the given time: `ready`
// tells whether one can.
[[nodiscard]] Status waitForDatagram(SocketHandle socket, int timeoutMilliseconds, bool& ready);

// True when the text is an IPv4 address in dotted form.
bool isDottedAddress(const std::string& host);

// The first IPv4 address of a host name, in dotted form.
[[nodiscard]] Status lookupHost(const std::string& host, std::string& dotted);

}  // namespace quelvar::platform
