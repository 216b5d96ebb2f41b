// What tele.ini costs a record whose number no rule classifies, so that the
// list is looked up: records sent one at a time, each waiting for its
// answer, with the built-in list and with a list of tens of megabytes (of
// which the first MiB counts). Each list is measured twice: just written,
// when it is read again at every lookup until it has settled, and settled.
// Run as: build/bench/special_numbers_bench [--count N] [--seconds S]
//         [--megabytes M] [--collector PATH]
// (defaults 20000 records or 10 s, whichever ends first, and 44 MB).
// --collector measures another build of the collector, e.g. an older one.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    long answered = 0;
    long unanswered = 0;
    double perSecond = 0, p50 = 0, p99 = 0;
};

// 95588 is in every list's first lines, 96677 in none: both are looked up.
Figures lookUp(long count, double seconds, long& nextId) {
    const int handle = connectedSocket(1809);
    std::vector<double> latencies;
    Figures figures;
    char answer[70000];
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(seconds);
    for (long sent = 0; sent < count && Clock::now() < end; ++sent) {
        const long id = ++nextId;
        const std::string datagram = encipher(
            "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) + "-1&CPN=8001&CDPN=" +
            (id % 2 == 0 ? "95588" : "96677") +
            "&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&TIME-S=240315093000&DURATION=75&");
        const auto at = Clock::now();
        send(handle, datagram.data(), datagram.size(), 0);
        pollfd waiting{handle, POLLIN, 0};
        if (poll(&waiting, 1, 5000) <= 0) {
            ++figures.unanswered;
            continue;
        }
        recv(handle, answer, sizeof answer, 0);
        ++figures.answered;
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - at).count());
    }
    figures.perSecond =
        static_cast<double>(figures.answered) / std::chrono::duration<double>(Clock::now() - begin).count();
    figures.p50 = percentile(latencies, 0.50);
    figures.p99 = percentile(latencies, 0.99);
    close(handle);
    return figures;
}

void report(const char* list, const char* when, const Figures& figures) {
    std::printf("%-28s %-30s %9ld %12.0f %10.1f %10.1f %8ld\n", list, when, figures.answered, figures.perSecond,
                figures.p50, figures.p99, figures.unanswered);
}

}  // namespace

int main(int argc, char** argv) {
    long count = 20000;
    double seconds = 10;
    long megabytes = 44;
    std::string collector;
    for (int index = 1; index + 1 < argc; index += 2) {
        if (std::strcmp(argv[index], "--count") == 0) count = std::atol(argv[index + 1]);
        else if (std::strcmp(argv[index], "--seconds") == 0) seconds = std::atof(argv[index + 1]);
        else if (std::strcmp(argv[index], "--megabytes") == 0) megabytes = std::atol(argv[index + 1]);
        else if (std::strcmp(argv[index], "--collector") == 0) collector = argv[index + 1];
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    std::printf("%-28s %-30s %9s %12s %10s %10s %8s\n", "tele.ini", "", "answered", "records/s", "p50 us",
                "p99 us", "lost");
    long nextId = 0;
    for (const bool large : {false, true}) {
        char name[64];
        std::snprintf(name, sizeof name, large ? "%ld MB of entries" : "built-in, 130 entries", megabytes);
        const auto writeList = [&](const fs::path& folder) {
            if (!large) return;
            std::ofstream list(folder / "tele.ini", std::ios::binary);
            list << "95588\r\n";
            std::string block;
            for (int line = 0; line < 4096; ++line) block += std::to_string(10000000 + line) + "\r\n";
            while (list.tellp() < megabytes * 1000 * 1000) list << block;
        };
        // The built-in list is written by the collector as it starts.
        CollectorRun run("", {}, writeList, collector);
        report(name, "just written (first 2 s)", lookUp(count, std::min(seconds, 2.0), nextId));
        // The file system's coarsest clock ticks every two seconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        report(name, "settled", lookUp(count, seconds, nextId));
        std::printf("%-28s resident %ld KiB (peak %ld KiB)\n", "", run.residentKilobytes(false),
                    run.residentKilobytes(true));
    }
    return 0;
}
