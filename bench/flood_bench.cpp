// Records filed per second while junk floods the port at full speed, against
// the same records without the flood, in either mode. One switch sends the
// records in windows, each window waiting for its answers and sending again
// what went unanswered (as a switch does when the kernel dropped it); another
// sender on the loopback sends junk datagrams as fast as it can meanwhile.
// Every record must be filed; the event log must stay small.
// Run as: build/bench/flood_bench [--records N] [--window N]   (defaults 20000, 16)
// The flood's sender shares the machine's cores with the collector.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string recordText(long id) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&"
           "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
}

// Datagrams the kernel dropped at the collector's socket for want of room.
long portDrops() {
    std::ifstream table("/proc/net/udp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string field[12];
        long drops = 0;
        for (std::string& each : field) fields >> each;
        if (fields >> drops && field[1].ends_with(":0711")) return drops;
    }
    return -1;
}

long logBytes(const CollectorRun& collector) {
    long bytes = 0;
    if (fs::exists(collector.folder() / "log"))
        for (const auto& entry : fs::directory_iterator(collector.folder() / "log"))
            bytes += static_cast<long>(entry.file_size());
    return bytes;
}

struct Figures {
    double seconds = 0, floodSeconds = 0;
    long resent = 0, filed = 0, junk = 0, drops = 0, logGrowth = 0;
};

Figures run(bool plain, bool flood, long records, long window) {
    CollectorRun collector(plain ? "ENCRYPT=0\n" : "");
    const long logBefore = logBytes(collector);
    std::atomic<bool> flooding{flood};
    std::atomic<long> junk{0};
    std::thread flooder;
    double floodSeconds = 0;
    if (flood) {
        flooder = std::thread([&] {
            const int handle = connectedSocket(1809);
            const std::string datagram = plain ? std::string("junk") : encipher("junk");
            const auto start = Clock::now();
            while (flooding)
                if (send(handle, datagram.data(), datagram.size(), 0) > 0) ++junk;
            floodSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            close(handle);
        });
        // Under way before the first record.
        while (junk < 1000) std::this_thread::yield();
    }

    Figures figures;
    const int handle = connectedSocket(1809);
    char answer[70000];
    const auto begin = Clock::now();
    for (long first = 1; first <= records; first += window) {
        std::set<long> waiting;
        for (long id = first; id < first + window && id <= records; ++id) waiting.insert(id);
        for (bool again = false; !waiting.empty(); again = true) {
            for (const long id : waiting) {
                const std::string text = recordText(id);
                const std::string datagram = plain ? text : encipher(text);
                send(handle, datagram.data(), datagram.size(), 0);
                if (again) ++figures.resent;
            }
            const auto deadline = Clock::now() + std::chrono::milliseconds(200);
            while (!waiting.empty() && Clock::now() < deadline) {
                pollfd ready{handle, POLLIN, 0};
                if (poll(&ready, 1, 10) <= 0) continue;
                const ssize_t count = recv(handle, answer, sizeof answer, 0);
                if (count <= 0) continue;
                const std::string datagram(answer, static_cast<std::size_t>(count));
                const std::string text = plain ? datagram.substr(0, datagram.find('\0')) : decipher(datagram);
                waiting.erase(std::atol(text.c_str() + 10));
            }
        }
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    flooding = false;
    if (flooder.joinable()) flooder.join();
    close(handle);
    figures.junk = junk;
    figures.floodSeconds = floodSeconds;
    figures.drops = portDrops();
    figures.filed = collector.filedLines("old", ".txt");
    figures.logGrowth = logBytes(collector) - logBefore;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    long records = 20000;
    long window = 16;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--records" && index + 1 < argc) records = std::atol(argv[++index]);
        else if (argument == "--window" && index + 1 < argc) window = std::atol(argv[++index]);
        else {
            std::fprintf(stderr, "usage: flood_bench [--records N] [--window N]\n");
            return 2;
        }
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    std::printf("machine: %u cores; %ld records in windows of %ld\n", std::thread::hardware_concurrency(), records,
                window);
    bool allFiled = true;
    for (const bool plain : {false, true}) {
        const char* mode = plain ? "plain" : "encrypted";
        const Figures alone = run(plain, false, records, window);
        const Figures amid = run(plain, true, records, window);
        const double aloneRate = static_cast<double>(records) / alone.seconds;
        const double amidRate = static_cast<double>(records) / amid.seconds;
        std::printf("%-9s alone:     %8.0f records/s  (%ld filed, %ld sent again, log +%ld bytes)\n", mode, aloneRate,
                    alone.filed, alone.resent, alone.logGrowth);
        std::printf("%-9s amid junk: %8.0f records/s  (%ld filed, %ld sent again, log +%ld bytes); "
                    "%ld junk datagrams at %.0f/s, %ld dropped by the kernel\n",
                    mode, amidRate, amid.filed, amid.resent, amid.logGrowth, amid.junk,
                    static_cast<double>(amid.junk) / amid.floodSeconds, amid.drops);
        std::printf("%-9s ratio:     %8.2f  (records/s amid junk / alone)\n", mode, amidRate / aloneRate);
        allFiled = allFiled && alone.filed == records && amid.filed == records;
    }
    return allFiled ? 0 : 1;
}
