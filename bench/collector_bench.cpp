// The collector's speed on this machine, each figure beside its floor:
//   closed loop  single-record datagrams sent one at a time, each waiting for
//                its answer: datagrams per second and latency p50/p99, and
//                the same for a bare UDP echo server (the floor of any round
//                trip on this machine);
//   burst        datagrams sent as fast as the sender can: how many were
//                filed and answered;
// for the encrypted and the plain mode.
// Run as: build/bench/collector_bench [--count N] [--burst N] [--wrap PROGRAM...]
// (defaults 20000 and 10000). --wrap runs the collector under another
// program, e.g. --wrap strace -c -o /tmp/calls.txt, and must come last.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Mode {
    const char* name;
    const char* configuration;
    bool plain;
};

std::string recordText(long index) {
    return "RECORD:ID=" + std::to_string(index) + "&RID=" + std::to_string(index) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&"
           "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
}

std::string datagramOf(long index, bool plain) { return plain ? recordText(index) : encipher(recordText(index)); }

std::string answerText(const std::string& datagram, bool plain) {
    return plain ? datagram.substr(0, datagram.find('\0')) : decipher(datagram);
}

struct LoopFigures {
    double perSecond = 0, p50 = 0, p99 = 0;
    long unanswered = 0;
};

// One datagram at a time, each waiting for its answer.
LoopFigures closedLoop(int port, long count, long firstIndex, bool plain, bool echo) {
    const int handle = connectedSocket(port);
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(count));
    LoopFigures figures;
    char answer[70000];
    const auto begin = Clock::now();
    for (long index = firstIndex; index < firstIndex + count; ++index) {
        const std::string datagram = datagramOf(index, plain || echo);
        const auto sent = Clock::now();
        send(handle, datagram.data(), datagram.size(), 0);
        pollfd waiting{handle, POLLIN, 0};
        if (poll(&waiting, 1, 1000) <= 0) {
            ++figures.unanswered;
            continue;
        }
        recv(handle, answer, sizeof answer, 0);
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    figures.perSecond = static_cast<double>(count) / std::chrono::duration<double>(Clock::now() - begin).count();
    figures.p50 = percentile(latencies, 0.50);
    figures.p99 = percentile(latencies, 0.99);
    close(handle);
    return figures;
}

// A bare UDP echo server on the loopback.
class EchoServer {
public:
    explicit EchoServer(int port) {
        handle_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<std::uint16_t>(port));
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(handle_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        thread_ = std::thread([this] {
            char buffer[70000];
            while (!stop_) {
                sockaddr_in sender{};
                socklen_t length = sizeof sender;
                const ssize_t count =
                    recvfrom(handle_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
                if (count > 0) sendto(handle_, buffer, static_cast<std::size_t>(count), 0,
                                      reinterpret_cast<sockaddr*>(&sender), length);
            }
        });
    }
    ~EchoServer() {
        stop_ = true;
        shutdown(handle_, SHUT_RDWR);
        thread_.join();
        close(handle_);
    }

private:
    int handle_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct BurstFigures {
    long sent = 0, answered = 0, filed = 0;
    double seconds = 0;
};

BurstFigures burst(const CollectorRun& collector, long count, long firstIndex, bool plain) {
    std::vector<std::string> datagrams;
    for (long index = firstIndex; index < firstIndex + count; ++index) datagrams.push_back(datagramOf(index, plain));
    const int handle = connectedSocket(1809);
    BurstFigures figures;
    const auto begin = Clock::now();
    for (const std::string& datagram : datagrams)
        if (send(handle, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size())) ++figures.sent;
    std::set<std::string> answers;
    char answer[70000];
    auto lastAnswer = begin;
    for (;;) {
        pollfd waiting{handle, POLLIN, 0};
        if (poll(&waiting, 1, 3000) <= 0) break;
        const ssize_t received = recv(handle, answer, sizeof answer, 0);
        if (received > 0) answers.insert(answerText(std::string(answer, static_cast<std::size_t>(received)), plain));
        lastAnswer = Clock::now();
        if (static_cast<long>(answers.size()) == count) break;
    }
    figures.seconds = std::chrono::duration<double>(lastAnswer - begin).count();
    figures.answered = static_cast<long>(answers.size());
    // The merged record is filed after the answer: give the last a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    figures.filed = collector.filedLines("old", ".txt");
    close(handle);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    long count = 20000;
    long burstCount = 10000;
    std::vector<std::string> wrapper;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--count" && index + 1 < argc) count = std::atol(argv[++index]);
        else if (argument == "--burst" && index + 1 < argc) burstCount = std::atol(argv[++index]);
        else if (argument == "--wrap") {
            wrapper.assign(argv + index + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr, "usage: collector_bench [--count N] [--burst N] [--wrap PROGRAM...]\n");
            return 2;
        }
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    std::printf("machine: %u cores\n", std::thread::hardware_concurrency());

    LoopFigures floor;
    {
        EchoServer echo(1810);
        floor = closedLoop(1810, count, 0, true, true);
    }
    std::printf("bare UDP echo, closed loop:  %8.0f datagrams/s  p50 %6.1f us  p99 %6.1f us\n", floor.perSecond,
                floor.p50, floor.p99);

    bool allFine = true;
    for (const Mode mode : {Mode{"encrypted", "", false}, Mode{"plain", "ENCRYPT=0\n", true}}) {
        {
            CollectorRun collector(mode.configuration, wrapper);
            const LoopFigures loop = closedLoop(1809, count, 1, mode.plain, false);
            std::printf("%-9s closed loop:        %8.0f datagrams/s  p50 %6.1f us  p99 %6.1f us  %ld unanswered"
                        "  (%.2fx the echo's round trip)\n",
                        mode.name, loop.perSecond, loop.p50, loop.p99, loop.unanswered, loop.p50 / floor.p50);
            allFine = allFine && loop.unanswered == 0;
        }
        {
            CollectorRun collector(mode.configuration, wrapper);
            const BurstFigures figures = burst(collector, burstCount, 1, mode.plain);
            std::printf("%-9s burst of %ld:       %ld sent, %ld answered, %ld filed in %.2f s (%.0f datagrams/s)\n",
                        mode.name, burstCount, figures.sent, figures.answered, figures.filed, figures.seconds,
                        static_cast<double>(figures.answered) / figures.seconds);
            allFine = allFine && figures.answered == burstCount && figures.filed == burstCount;
        }
    }
    return allFine ? 0 : 1;
}
