#pragma once
#include <chrono>
#include <optional>
#include <string>

#include "support/openssl_wire.h"

// GBK bytes of UTF-8 text, converted by iconv.
std::string gbk(const std::string& utf8);

// A switch on the loopback: sends datagrams to port 1809 and reads answers.
class SwitchClient {
public:
    // Bound to a loopback address (127.0.0.1 unless told), on the given
    // port or on one the system picks.
    explicit SwitchClient(int port = 0, const std::string& address = "127.0.0.1");
    ~SwitchClient();
    SwitchClient(const SwitchClient&) = delete;
    SwitchClient& operator=(const SwitchClient&) = delete;

    void sendRaw(const std::string& bytes) const;
    // Sends the record text enciphered, as a switch does.
    void send(const std::string& gbkText) const { sendRaw(encipherDatagram(gbkText)); }
    // The next datagram that arrives within the time, deciphered up to its
    // terminator.
    std::optional<std::string> receive(std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const;
    // The next datagram as it came.
    std::optional<std::string> receiveRaw(std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const;
    int port() const { return port_; }
    const std::string& address() const { return address_; }

private:
    int socket_ = -1;
    int port_ = 0;
    std::string address_;
};

// Waits until the collector's socket is bound to port 1809, or until no
// socket is bound to it any more.
bool waitForRecordPort(std::chrono::seconds limit = std::chrono::seconds(20), bool bound = true);

// What the kernel holds for the socket bound to port 1809: the bytes queued
// for the collector to read, and the datagrams it dropped for want of room.
struct RecordPortQueue {
    long queuedBytes = 0;
    long drops = 0;
};
RecordPortQueue recordPortQueue();
// Waits until the collector has read every datagram queued for it; ends the
// test when it has not within the limit. Floods sent in bursts with this
// between them lose nothing, whatever room the system gives the socket.
void waitUntilRead(std::chrono::seconds limit = std::chrono::seconds(10));
