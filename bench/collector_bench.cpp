// The collector's speed on this machine, each figure beside its floor:
//   closed loop  single-record datagrams sent one at a time, each waiting for
//                its answer: datagrams per second and latency p50/p99, beside
//                a bare UDP echo server (the floor of any round trip on this
//                machine) and bench/simple_collector.c, the simplest design
//                of 22 system calls a datagram;
//   burst        datagrams sent as fast as the sender can: how many were
//                filed and answered, and in how long;
// for the encrypted and the plain mode, syncing on and off (SYNC=0). Where
// strace is installed, each run counts the collector's syncs (only those
// calls are traced), and --syscalls counts all its system calls per
// datagram of a closed loop (two runs under strace -c, the difference).
// Run as: build/bench/collector_bench [--count N] [--burst N] [--syscalls]
//         [--sync on|off|both] [--collector PATH] [--wrap PROGRAM...]
// (defaults 20000 and 10000). --collector measures another build of the
// collector (e.g. main's, for a figure before a change); --wrap runs the
// collector under another program, e.g. --wrap strace -c -o /tmp/calls.txt,
// and must come last.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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
        // A refusal (nothing listens) is no answer.
        if (recv(handle, answer, sizeof answer, 0) < 0) {
            ++figures.unanswered;
            continue;
        }
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

// bench/simple_collector.c, run beside the benchmark on its own port.
class SimpleCollector {
public:
    explicit SimpleCollector(int port) {
        std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-simple-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
        const std::string portText = std::to_string(port);
        const std::string folder = folder_.string();
        char* arguments[] = {const_cast<char*>(SIMPLE_COLLECTOR), const_cast<char*>(portText.c_str()),
                             const_cast<char*>(folder.c_str()), nullptr};
        posix_spawn(&process_, SIMPLE_COLLECTOR, nullptr, nullptr, arguments, environ);
        // Bound once it answers.
        const int handle = connectedSocket(port);
        for (;;) {
            send(handle, "RECORD:&", 8, 0);
            pollfd waiting{handle, POLLIN, 0};
            if (poll(&waiting, 1, 20) > 0) break;
        }
        char answer[100];
        recv(handle, answer, sizeof answer, 0);
        close(handle);
    }
    ~SimpleCollector() {
        kill(process_, SIGTERM);
        waitpid(process_, nullptr, 0);
        std::filesystem::remove_all(folder_);
    }

private:
    pid_t process_ = -1;
    std::filesystem::path folder_;
};

// strace -c's table: calls by name.
std::map<std::string, long> callsCounted(const std::string& path) {
    std::map<std::string, long> calls;
    std::ifstream table(path);
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::vector<std::string> columns;
        for (std::string word; words >> word;) columns.push_back(word);
        if (columns.size() < 5 || columns[0].find_first_not_of("0123456789.") != std::string::npos) continue;
        calls[columns.back()] = std::atol(columns[3].c_str());
    }
    return calls;
}

bool haveStrace() { return std::system("strace -V >/dev/null 2>&1") == 0; }

std::string tracePath() { return (std::filesystem::temp_directory_path() / "quelvar-bench-syncs.txt").string(); }

// Only the syncs traced, so that every other call runs at full speed.
std::vector<std::string> syncCounter() {
    if (!haveStrace()) return {};
    return {"strace", "-f", "--seccomp-bpf", "-e", "trace=fsync,fdatasync", "-c", "-o", tracePath()};
}

long syncsCounted() {
    const std::map<std::string, long> calls = callsCounted(tracePath());
    long syncs = 0;
    for (const char* name : {"fsync", "fdatasync"})
        if (const auto found = calls.find(name); found != calls.end()) syncs += found->second;
    std::filesystem::remove(tracePath());
    return syncs;
}

}  // namespace

int main(int argc, char** argv) {
    long count = 20000;
    long burstCount = 10000;
    bool syscalls = false;
    std::string syncRuns = "both";
    std::string executable;
    std::vector<std::string> wrapper;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--count" && index + 1 < argc) count = std::atol(argv[++index]);
        else if (argument == "--burst" && index + 1 < argc) burstCount = std::atol(argv[++index]);
        else if (argument == "--syscalls")
            syscalls = true;
        else if (argument == "--sync" && index + 1 < argc)
            syncRuns = argv[++index];
        else if (argument == "--collector" && index + 1 < argc)
            executable = std::filesystem::absolute(argv[++index]);
        else if (argument == "--wrap") {
            wrapper.assign(argv + index + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr,
                         "usage: collector_bench [--count N] [--burst N] [--syscalls] [--sync on|off|both] "
                         "[--collector PATH] [--wrap PROGRAM...]\n");
            return 2;
        }
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    std::printf("machine: %u cores\n", std::thread::hardware_concurrency());
    if (!haveStrace()) std::printf("strace is not installed: no syncs or system calls counted\n");
    const bool counting = wrapper.empty() && haveStrace();

    LoopFigures floor;
    {
        EchoServer echo(1810);
        floor = closedLoop(1810, count, 0, true, true);
    }
    std::printf("bare UDP echo, closed loop:  %8.0f datagrams/s  p50 %6.1f us  p99 %6.1f us\n", floor.perSecond,
                floor.p50, floor.p99);
    LoopFigures simple;
    {
        SimpleCollector program(1811);
        simple = closedLoop(1811, count, 0, true, true);
    }
    std::printf("22-call C program, closed loop: %8.0f datagrams/s  p50 %6.1f us  p99 %6.1f us  %ld unanswered\n",
                simple.perSecond, simple.p50, simple.p99, simple.unanswered);

    bool allFine = true;
    for (const Mode mode : {Mode{"encrypted", "", false}, Mode{"plain", "ENCRYPT=0\n", true}})
        for (const bool sync : {true, false}) {
            if (syncRuns != "both" && syncRuns != (sync ? "on" : "off")) continue;
            const std::string configuration = std::string(mode.configuration) + (sync ? "" : "SYNC=0\n");
            const std::string name = std::string(mode.name) + (sync ? ", sync on " : ", SYNC=0  ");
            const std::vector<std::string> around = counting ? syncCounter() : wrapper;
            {
                LoopFigures loop;
                {
                    CollectorRun collector(configuration, around, {}, executable);
                    loop = closedLoop(1809, count, 1, mode.plain, false);
                }
                std::printf(
                    "%s closed loop:        %8.0f datagrams/s  p50 %6.1f us  p99 %6.1f us  %ld unanswered"
                    "  (%.2fx the 22-call program's rate)",
                    name.c_str(), loop.perSecond, loop.p50, loop.p99, loop.unanswered,
                    loop.perSecond / simple.perSecond);
                if (counting)
                    std::printf("  %.2f syncs/datagram",
                                static_cast<double>(syncsCounted()) / static_cast<double>(count));
                std::printf("\n");
                allFine = allFine && loop.unanswered == 0;
            }
            {
                BurstFigures figures;
                {
                    CollectorRun collector(configuration, around, {}, executable);
                    figures = burst(collector, burstCount, 1, mode.plain);
                }
                std::printf("%s burst of %ld:       %ld sent, %ld answered, %ld filed in %.2f s (%.0f datagrams/s)",
                            name.c_str(), burstCount, figures.sent, figures.answered, figures.filed, figures.seconds,
                            static_cast<double>(figures.answered) / figures.seconds);
                if (counting)
                    std::printf("  %.3f syncs/datagram",
                                static_cast<double>(syncsCounted()) / static_cast<double>(burstCount));
                std::printf("\n");
                allFine = allFine && figures.answered == burstCount && figures.filed == burstCount;
            }
            if (syscalls && haveStrace()) {
                // Two closed loops under strace -c: the difference is the datagrams' own.
                const std::string table = (std::filesystem::temp_directory_path() / "quelvar-bench-calls.txt").string();
                const auto callsOfLoop = [&](long datagrams) {
                    {
                        CollectorRun collector(configuration, {"strace", "-f", "-c", "-o", table}, {}, executable);
                        closedLoop(1809, datagrams, 1, mode.plain, false);
                    }
                    std::map<std::string, long> calls = callsCounted(table);
                    std::filesystem::remove(table);
                    return calls;
                };
                const long few = 200, many = 1200;
                std::map<std::string, long> fewCalls = callsOfLoop(few);
                std::map<std::string, long> manyCalls = callsOfLoop(many);
                std::string each;
                for (const auto& [call, number] : manyCalls) {
                    if (call == "total") continue;
                    const double perDatagram =
                        static_cast<double>(number - fewCalls[call]) / static_cast<double>(many - few);
                    if (perDatagram >= 0.05) each += " " + call + " " + std::to_string(perDatagram).substr(0, 4);
                }
                std::printf(
                    "%s system calls/datagram (closed loop, strace -c): %.1f:%s\n", name.c_str(),
                    static_cast<double>(manyCalls["total"] - fewCalls["total"]) / static_cast<double>(many - few),
                    each.c_str());
            }
        }
    return allFine ? 0 : 1;
}
