#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

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

// Starts the system's socket layer asking for version 1.1, and gives the
// version it granted. Where sockets need no start, it succeeds with 1.1.
// Every other operation here starts the layer by itself when it must.
bool startSocketLayer(int& major, int& minor);
// Undoes one successful startSocketLayer.
void stopSocketLayer();

// A blocking IPv4 UDP socket, or invalidSocket.
SocketHandle openUdpSocket();

// Buffer sizes and address reuse (on Windows, where reuse would let another
// program take over the port, the port is bound exclusively instead);
// failures are not reported.
void setSocketOptions(SocketHandle socket, int sendBufferBytes, int receiveBufferBytes);

// Asks for a receive buffer of that size, beyond the system's usual limit
// where the process may; gives the size the system granted.
int enlargeReceiveBuffer(SocketHandle socket, int bytes);

// Binds to every local IPv4 address and the port.
bool bindUdpPort(SocketHandle socket, int port);

// Receives one datagram whole. Gives its length, or 0 or less when nothing
// was received; the sender's dotted address and port when asked for.
long receiveDatagram(SocketHandle socket, unsigned char* buffer, std::size_t size, std::string* address, int* port);

// One send of all bytes to a dotted IPv4 address (empty: 0.0.0.0) and port.
// True only when every byte went out.
bool sendDatagram(SocketHandle socket, const unsigned char* bytes, std::size_t count, const std::string& address,
                  int port);

// One send on a connected socket.
bool sendConnected(SocketHandle socket, const unsigned char* bytes, std::size_t count);

void closeSocket(SocketHandle socket);

// Waits until a datagram can be received: 1, or 0 when the time ran out,
// -1 on error.
int waitForDatagram(SocketHandle socket, int timeoutMilliseconds);

// True when the text is an IPv4 address in dotted form.
bool isDottedAddress(const std::string& host);

// The first IPv4 address of a host name, in dotted form.
bool lookupHost(const std::string& host, std::string& dotted);

}  // namespace quelvar::platform
