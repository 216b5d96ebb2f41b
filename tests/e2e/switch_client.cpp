#include "e2e/switch_client.h"

#include "e2e/harness.h"
#include "support/openssl_wire.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

std::string gbk(const std::string& utf8) {
    iconv_t converter = iconv_open("CP936", "UTF-8");
    std::string output(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    output.resize(output.size() - outLeft);
    return output;
}

SwitchClient::SwitchClient(int port, const std::string& address) : address_(address) {
    // Not handed on to the collectors and programs the tests start.
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) endTest("no IPv4 address: " + address);
    if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const std::string reason = std::strerror(errno);
        if (socket_ >= 0) close(socket_);
        socket_ = -1;
        endTest("no switch on " + address + " port " + std::to_string(port) + ": " + reason);
    }
    socklen_t length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
}

SwitchClient::~SwitchClient() { close(socket_); }

void SwitchClient::sendRaw(const std::string& bytes) const {
    sockaddr_in collector{};
    collector.sin_family = AF_INET;
    collector.sin_port = htons(1809);
    collector.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const ssize_t sent =
        sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&collector), sizeof collector);
    ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size())) << "sending to port 1809: " << std::strerror(errno);
}

std::optional<std::string> SwitchClient::receiveRaw(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        expectCollectorsRunning();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd waiting{socket_, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(std::min<long>(left.count(), 50))) > 0) break;
    }
    std::string datagram(65536, '\0');
    const ssize_t received = recv(socket_, datagram.data(), datagram.size(), 0);
    if (received < 0) return std::nullopt;
    datagram.resize(static_cast<std::size_t>(received));
    return datagram;
}

std::optional<std::string> SwitchClient::receive(std::chrono::milliseconds limit) const {
    const auto datagram = receiveRaw(limit);
    if (!datagram) return std::nullopt;
    EXPECT_EQ(datagram->size() % 16, 0u) << "an answer is whole blocks";
    return decipherDatagram(*datagram);
}

bool waitForRecordPort(std::chrono::seconds limit, bool bound) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream table("/proc/net/udp");
        std::stringstream contents;
        contents << table.rdbuf();
        if ((contents.str().find(":0711 ") != std::string::npos) == bound) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

RecordPortQueue recordPortQueue() {
    std::ifstream table("/proc/net/udp");
    // sl local rem st tx_queue:rx_queue tr:when retrnsmt uid timeout inode ref pointer drops
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, user, timeout, inode, references, pointer;
        long drops = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> user >> timeout >>
              inode >> references >> pointer >> drops) ||
            !local.ends_with(":0711"))
            continue;
        return {std::stol(queues.substr(queues.find(':') + 1), nullptr, 16), drops};
    }
    endTest("no socket is bound to port 1809");
}

void waitUntilRead(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const RecordPortQueue queue = recordPortQueue();
        if (queue.queuedBytes == 0) return;
        expectCollectorsRunning();
        if (std::chrono::steady_clock::now() > deadline)
            endTest("the collector has left " + std::to_string(queue.queuedBytes) + " bytes unread for " +
                    std::to_string(limit.count()) + " s");
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}
