// One million datagrams through a collector: its resident memory (now and
// peak) and open descriptors after 10k, 100k and 1M must stay flat.
// Run as: build/bench/memory_bench [datagrams] [--plain] [--repeat]   (default 1000000)
// --repeat sends one record again and again: every copy after the first is
// a repeat that renews its key.
// Datagrams go in windows of 64, each window waiting for its answers.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

std::string recordText(long index) {
    // A handful of switches and days, so that files are appended to as in
    // real use rather than created anew for every record.
    return "RECORD:ID=" + std::to_string(index) + "&RID=" + std::to_string(index) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5" +
           std::to_string(index % 4) + "&TIME-S=2403" + std::to_string(10 + index % 3) +
           "093000&DURATION=75&TRUNKN=3&";
}

}  // namespace

int main(int argc, char** argv) {
    long total = 1000000;
    bool plain = false;
    bool repeat = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--plain") plain = true;
        else if (argument == "--repeat") repeat = true;
        else total = std::atol(argv[index]);
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    CollectorRun collector(plain ? "ENCRYPT=0\n" : "");
    const int handle = connectedSocket(1809);
    std::printf("%s mode, %ld datagrams%s\n", plain ? "plain" : "encrypted", total,
                repeat ? ", one record repeated" : "");
    std::printf("%10s %14s %14s %12s %10s\n", "datagrams", "resident KiB", "peak KiB", "descriptors", "lost");
    std::printf("%10d %14ld %14ld %12ld %10d\n", 0, collector.residentKilobytes(false), collector.residentKilobytes(true),
                collector.openDescriptors(), 0);

    constexpr long window = 64;
    long lost = 0;
    long nextReport = 10000;
    char answer[70000];
    const auto begin = std::chrono::steady_clock::now();
    for (long sent = 0; sent < total;) {
        const long batch = std::min(window, total - sent);
        for (long index = 0; index < batch; ++index) {
            const std::string text = recordText(repeat ? 1 : sent + index + 1);
            const std::string datagram = plain ? text : encipher(text);
            send(handle, datagram.data(), datagram.size(), 0);
        }
        long answered = 0;
        while (answered < batch) {
            pollfd waiting{handle, POLLIN, 0};
            if (poll(&waiting, 1, 2000) <= 0) break;
            if (recv(handle, answer, sizeof answer, 0) > 0) ++answered;
        }
        lost += batch - answered;
        sent += batch;
        if (sent >= nextReport || sent == total) {
            std::printf("%10ld %14ld %14ld %12ld %10ld\n", sent, collector.residentKilobytes(false),
                        collector.residentKilobytes(true), collector.openDescriptors(), lost);
            std::fflush(stdout);
            while (nextReport <= sent) nextReport *= 10;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%.0f datagrams/s over the run\n", static_cast<double>(total) / seconds);
    close(handle);
    return lost == 0 ? 0 : 1;
}
