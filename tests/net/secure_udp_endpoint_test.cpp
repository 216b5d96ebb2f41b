#include "net/secure_udp_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/openssl_wire.h"

#include <memory>
#include <optional>

namespace quelvar {
namespace {

// OpenSSL's AES-128 in ECB mode over whole blocks.
std::string openSsl(const std::string& input, bool encrypt) { return openSslAes(input, encrypt); }

// A plain socket on the loopback, the other side of the endpoint.
class Peer {
public:
    Peer() {
        handle_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = address(0);
        bind(handle_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }
    ~Peer() { close(handle_); }
    int port() const { return port_; }
    void sendTo(int port, const std::string& bytes) const {
        const sockaddr_in target = address(port);
        sendto(handle_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }
    std::optional<std::string> receive() const {
        pollfd waiting{handle_, POLLIN, 0};
        if (poll(&waiting, 1, 2000) <= 0) return std::nullopt;
        std::string bytes(70000, '\0');
        const ssize_t count = recv(handle_, bytes.data(), bytes.size(), 0);
        bytes.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
        return bytes;
    }
    static int freePort() {
        Peer probe;
        return probe.port();
    }

private:
    static sockaddr_in address(int port) {
        sockaddr_in result{};
        result.sin_family = AF_INET;
        result.sin_port = htons(static_cast<std::uint16_t>(port));
        result.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return result;
    }
    int handle_ = -1;
    int port_ = 0;
};

class EndpointTest : public testing::Test {
protected:
    void SetUp() override {
        port = Peer::freePort();
        ASSERT_TRUE(endpoint.create(17).ok());
        ASSERT_TRUE(endpoint.bindPort(port).ok());
        endpoint.setKey(&keyText, 128);
    }
    // Sends raw bytes to the endpoint and receives them as text.
    std::size_t roundTrip(const std::string& datagram, std::wstring& text) {
        peer.sendTo(port, datagram);
        platform::Peer sender;
        std::size_t received = 0;
        EXPECT_TRUE(endpoint.receiveText(text, sender, received).ok());
        EXPECT_EQ(sender.address, "127.0.0.1");
        EXPECT_EQ(sender.port, peer.port());
        return received;
    }
    platform::Peer back() const { return {"127.0.0.1", peer.port()}; }
    const std::wstring keyText = L"LumenHarpQi";
    SecureUdpEndpoint endpoint;
    Peer peer;
    int port = 0;
};

TEST_F(EndpointTest, SendsTextClosedAndPaddedToWholeBlocks) {
    const struct {
        std::size_t textBytes;
        std::size_t datagramBytes;
    } cases[] = {{0, 16}, {11, 16}, {14, 16}, {15, 32}, {16, 32}};
    for (const auto& each : cases) {
        const std::string text(each.textBytes, 'r');
        ASSERT_TRUE(endpoint.sendText(std::wstring(text.begin(), text.end()), back()).ok());
        const auto datagram = peer.receive();
        ASSERT_TRUE(datagram.has_value());
        ASSERT_EQ(datagram->size(), each.datagramBytes) << each.textBytes;
        EXPECT_EQ(openSsl(*datagram, false), text + std::string(each.datagramBytes - text.size(), '\0'));
    }
    ASSERT_TRUE(endpoint.sendText(L"RECORD:ID=中", back()).ok());
    EXPECT_EQ(openSsl(*peer.receive(), false), std::string("RECORD:ID=\xD6\xD0\0\0\0\0", 16));
}

TEST_F(EndpointTest, WithoutKeySendsTheTextAndItsTerminatorOnly) {
    endpoint.setKey(nullptr, 128);
    ASSERT_TRUE(endpoint.sendText(L"hello", back()).ok());
    EXPECT_EQ(peer.receive(), std::string("hello\0", 6));
}

TEST_F(EndpointTest, ReceivesAndDeciphersWholeAndPartialBlocks) {
    std::wstring text = L"untouched";
    // Whole blocks; the text ends at the first zero byte.
    EXPECT_EQ(roundTrip(openSsl(std::string("RECORD:ID=1&\0\0\0\0ABCDEFGHIJKLMNOP", 32), true), text), 32u);
    EXPECT_EQ(text, L"RECORD:ID=1&");
    // GBK text is read as GBK.
    EXPECT_EQ(roundTrip(openSsl("\xD6\xD0\xCE\xC4" + std::string(12, '\0'), true), text), 16u);
    EXPECT_EQ(text, L"中文");
    // In a 33-byte datagram the last byte stays as it came.
    std::string wide;
    for (int index = 0; index < 16; ++index) wide += "\xD6\xD0";
    EXPECT_EQ(roundTrip(openSsl(wide, true) + "Z", text), 33u);
    EXPECT_EQ(text, std::wstring(16, L'中') + L"Z");
    // A 16-byte plaintext without terminator does not fit: empty text.
    EXPECT_EQ(roundTrip(openSsl(std::string(16, 'A'), true), text), 16u);
    EXPECT_EQ(text, L"");
    // A 1-byte datagram is not deciphered at all.
    EXPECT_EQ(roundTrip(std::string(1, '\0'), text), 1u);
    EXPECT_EQ(text, L"");
}

TEST_F(EndpointTest, DeciphersATrailingPartialBlockWithTheZerosBehindIt) {
    // Four bytes whose block, filled up with twelve zero bytes, deciphers to
    // "Q" and a terminator.
    std::string tail;
    for (std::uint32_t counter = 0;; ++counter) {
        const std::string block = std::string(reinterpret_cast<const char*>(&counter), 4) + std::string(12, '\0');
        const std::string plain = openSsl(block, false);
        if (plain[0] == 'Q' && plain[1] == '\0') {
            tail = block.substr(0, 4);
            break;
        }
    }
    std::wstring text;
    EXPECT_EQ(roundTrip(openSsl("ABCDEFGHIJKLMNOP", true) + tail, text), 20u);
    EXPECT_EQ(text, L"ABCDEFGHIJKLMNOPQ");
}

TEST_F(EndpointTest, ReceivesDatagramsUpToTheUdpMaximumWhole) {
    const std::string record = "RECORD:RID=1-1&CPN=" + std::string(40000, '5') + "&";
    std::string plain = record + '\0';
    plain.append(16 - plain.size() % 16, '\0');
    std::wstring text;
    EXPECT_EQ(roundTrip(openSsl(plain, true), text), plain.size());
    EXPECT_EQ(text, std::wstring(record.begin(), record.end()));
}

TEST(ResolveHost, TakesDottedAddressesAsTheyAreAndLooksUpNames) {
    std::string dotted;
    EXPECT_TRUE(resolveHost("127.0.0.1", dotted).ok());
    EXPECT_EQ(dotted, "127.0.0.1");
    EXPECT_TRUE(resolveHost("localhost", dotted).ok());
    EXPECT_EQ(dotted.substr(0, 4), "127.");
    EXPECT_TRUE(resolveHost("no-such-host.invalid", dotted).is(Status::Code::notFound));

    SecureUdpEndpoint endpoint;
    ASSERT_TRUE(endpoint.create(17).ok());
    const Status sent = endpoint.sendText(L"RECORD:ID=1", {"no-such-host.invalid", 1809});
    EXPECT_FALSE(sent.ok());
    EXPECT_EQ(sent.subject(), "no-such-host.invalid");
}

TEST(SecureUdpEndpoint, CarriesOnlyUdpAndClosesWithoutASocket) {
    SecureUdpEndpoint endpoint;
    endpoint.close();
    EXPECT_TRUE(endpoint.create(6).is(Status::Code::unsupported)) << "only UDP";
}

TEST(SecureUdpEndpoint, ABoundPortIsRefusedToASecondEndpoint) {
    SecureUdpEndpoint first;
    ASSERT_TRUE(first.create(17).ok());
    const int port = Peer::freePort();
    ASSERT_TRUE(first.bindPort(port).ok());
    // Without address reuse on the second socket, Linux refuses it too.
    platform::SocketHandle second = platform::invalidSocket;
    ASSERT_TRUE(platform::openUdpSocket(second).ok());
    const Status bound = platform::bindUdpPort(second, port);
    platform::closeSocket(second);
    EXPECT_TRUE(bound.is(Status::Code::busy)) << bound.text();
    EXPECT_EQ(bound.text().substr(0, 14), "bind UDP port ") << bound.text();
}

}  // namespace
}  // namespace quelvar
