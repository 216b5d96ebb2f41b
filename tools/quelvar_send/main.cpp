// quelvar-send: a switch for testing a Quelvar installation. Sends call
// records, waits for each acknowledgement and sums up what came back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <thread>

#include "platform/udp.h"
#include "quelvar_send/options.h"
#include "quelvar_send/records.h"
#include "quelvar_send/wire.h"

namespace {

using namespace quelvar::send;
using Clock = std::chrono::steady_clock;

int fail(const std::string& message, int status) {
    std::fprintf(stderr, "quelvar-send: %s\n", message.c_str());
    return status;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}

std::string shortened(const std::string& text) { return text.size() > 72 ? text.substr(0, 69) + "..." : text; }

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) return fail(error + " (see --help)", 2);
    const SendOptions& options = *parsed;
    if (options.help) {
        std::fputs(usageText, stdout);
        return 0;
    }

    quelvar::platform::Peer collector{options.host, options.port};
    if (!quelvar::platform::isDottedAddress(options.host) &&
        !quelvar::platform::lookupHost(options.host, collector.address).ok())
        return fail("cannot resolve host " + options.host, 2);

    std::vector<Call> calls;
    if (!options.calls.empty()) {
        calls = callsFromArguments(options.calls, options.plain);
    } else if (!options.file.empty() && options.file != "-") {
        std::ifstream input(options.file);
        if (!input) return fail("cannot read " + options.file, 2);
        calls = readCalls(input, options.plain);
    } else if (options.generate == 0) {
        calls = readCalls(std::cin, options.plain);
    }

    quelvar::platform::SocketHandle socket = quelvar::platform::invalidSocket;
    if (const quelvar::Status opened = quelvar::platform::openUdpSocket(socket); !opened.ok())
        return fail("cannot make a UDP socket: " + opened.reason(), 2);
    const quelvar::AesCipher cipher = wireCipher();
    // Unseeded runs differ in their RIDs too, so that the collector takes
    // none of their calls for a repeat of an earlier run's.
    const auto clock = static_cast<std::uint32_t>(Clock::now().time_since_epoch().count());
    // From 1: no RID starts with a zero.
    const auto runId = [](unsigned long long from) { return static_cast<long>(1 + from % 99999); };
    CallGenerator generator(options.plain, options.seed ? static_cast<std::uint32_t>(*options.seed) : clock,
                            runId(options.seed ? *options.seed : static_cast<unsigned long long>(std::time(nullptr))));
    if (options.generateMonth) generator.startInMonth(options.generateYear, options.generateMonth);
    std::ofstream saved;
    if (!options.save.empty()) {
        saved.open(options.save, std::ios::binary | std::ios::trunc);
        if (!saved) return fail("cannot write " + options.save, 2);
    }
    const long total = options.generate ? options.generate : static_cast<long>(calls.size());

    long sent = 0, acknowledged = 0, lost = 0;
    std::vector<double> latencies;
    std::string buffer(65536, '\0');
    const auto begin = Clock::now();
    for (long index = 0; index < total; ++index) {
        if (options.rate > 0)
            std::this_thread::sleep_until(begin + std::chrono::duration<double>(index / options.rate));
        const Call call = options.generate ? generator.next() : calls[static_cast<std::size_t>(index)];
        if (saved.is_open()) {
            for (const std::string& leg : call) saved << leg << '\n';
            if (!options.plain) saved << '\n';
            if (!saved.flush()) return fail("cannot write " + options.save, 2);
        }
        const std::string datagram = encodeDatagram(call, options.plain, cipher);
        const auto expected = expectedAcknowledgement(call, options.plain);
        const auto sentAt = Clock::now();
        if (!quelvar::platform::sendDatagram(socket, reinterpret_cast<const unsigned char*>(datagram.data()),
                                             datagram.size(), collector)
                 .ok())
            return fail("cannot send to " + options.host + ":" + std::to_string(options.port), 2);
        ++sent;
        if (!expected) {
            if (!options.quiet) std::printf("sent    %s (no acknowledgement due)\n", shortened(call.front()).c_str());
            continue;
        }
        // Wait for this datagram's answer; a late answer to an earlier one
        // is passed over.
        bool answered = false;
        for (;;) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sentAt);
            const int left = options.timeoutMilliseconds - static_cast<int>(waited.count());
            bool ready = false;
            if (left <= 0 || !quelvar::platform::waitForDatagram(socket, left, ready).ok() || !ready) break;
            std::size_t received = 0;
            if (!quelvar::platform::receiveDatagram(socket, reinterpret_cast<unsigned char*>(buffer.data()),
                                                    buffer.size(), received, nullptr)
                     .ok() ||
                received == 0)
                continue;
            const std::string answer = decodeAcknowledgement(buffer.substr(0, received), options.plain, cipher);
            if (answer != *expected) continue;
            const double milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count();
            latencies.push_back(milliseconds);
            ++acknowledged;
            answered = true;
            if (!options.quiet) std::printf("ack     %s (%.2f ms)\n", answer.c_str(), milliseconds);
            break;
        }
        if (!answered) {
            ++lost;
            if (!options.quiet) std::printf("lost    %s\n", shortened(call.front()).c_str());
        }
    }
    quelvar::platform::closeSocket(socket);
    std::printf("sent %ld, acknowledged %ld, lost %ld, latency p50 %.2f ms, p99 %.2f ms\n", sent, acknowledged, lost,
                percentile(latencies, 0.50), percentile(latencies, 0.99));
    return lost == 0 ? 0 : 1;
}
