// Soak: datagrams from several switches at a steady rate, with repeats and
// malformed datagrams mixed in. At the end every record must have been
// answered and be in the files exactly once; memory and descriptors are
// printed along the way and must stay flat.
// Run as: build/bench/soak_bench [records] [per second] [senders]
// (defaults 2000000, 8000, 4). Needs about 1 GB of disk under /tmp.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string recordText(long id, int sender) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5" +
           std::to_string(sender) + "&TIME-S=2403" + std::to_string(10 + id % 3) + "093000&DURATION=75&TRUNKN=3&";
}

}  // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 2000000;
    const double rate = argc > 2 ? std::atof(argv[2]) : 8000;
    const int senders = argc > 3 ? std::atoi(argv[3]) : 4;
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    CollectorRun collector("");
    std::printf("soak: %ld records from %d switches at %.0f/s, 2%% repeated, 1%% malformed datagrams\n", total,
                senders, rate);
    std::printf("%10s %14s %14s %12s %10s\n", "records", "resident KiB", "peak KiB", "descriptors", "answers");

    std::vector<std::uint8_t> answered(static_cast<std::size_t>(total) + 1, 0);
    std::atomic<long> sentRecords{0}, repeats{0}, malformed{0}, answers{0};
    std::mutex answeredLock;
    const auto begin = Clock::now();
    std::vector<std::thread> threads;
    for (int sender = 0; sender < senders; ++sender) {
        threads.emplace_back([&, sender] {
            const int handle = connectedSocket(1809);
            std::mt19937 random(static_cast<unsigned>(sender) * 7919u + 1u);
            std::atomic<bool> done{false};
            std::thread receiver([&] {
                char buffer[70000];
                auto lastAnswer = Clock::now();
                while (!done || Clock::now() - lastAnswer < std::chrono::seconds(3)) {
                    pollfd waiting{handle, POLLIN, 0};
                    if (poll(&waiting, 1, 200) <= 0) continue;
                    const ssize_t count = recv(handle, buffer, sizeof buffer, 0);
                    if (count <= 0) continue;
                    lastAnswer = Clock::now();
                    const std::string text = decipher(std::string(buffer, static_cast<std::size_t>(count)));
                    const long id = std::atol(text.c_str() + 10);
                    std::lock_guard<std::mutex> hold(answeredLock);
                    if (id > 0 && id <= total) answered[static_cast<std::size_t>(id)] = 1;
                    ++answers;
                }
            });
            const double perSender = rate / senders;
            long sent = 0;
            for (long id = sender + 1; id <= total; id += senders) {
                std::this_thread::sleep_until(begin + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(sent / perSender)));
                const std::string datagram = encipher(recordText(id, sender));
                send(handle, datagram.data(), datagram.size(), 0);
                ++sent;
                ++sentRecords;
                const int dice = static_cast<int>(random() % 100);
                if (dice < 2) {  // the switch did not see our answer and sends again
                    send(handle, datagram.data(), datagram.size(), 0);
                    ++repeats;
                } else if (dice == 2) {  // garbage of every kind
                    std::string junk(1 + random() % 300, '\0');
                    for (char& c : junk) c = static_cast<char>(random());
                    if (random() % 2) junk = datagram.substr(0, datagram.size() - 1 - random() % 15);
                    send(handle, junk.data(), junk.size(), 0);
                    ++malformed;
                }
            }
            done = true;
            receiver.join();
            close(handle);
        });
    }
    long nextReport = 10000;
    while (sentRecords < total) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (sentRecords >= nextReport) {
            std::printf("%10ld %14ld %14ld %12ld %10ld\n", static_cast<long>(sentRecords),
                        collector.residentKilobytes(false), collector.residentKilobytes(true),
                        collector.openDescriptors(), static_cast<long>(answers));
            std::fflush(stdout);
            nextReport = nextReport < 100000 ? nextReport * 10 : nextReport + 100000;
        }
    }
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("%10ld %14ld %14ld %12ld %10ld\n", total, collector.residentKilobytes(false),
                collector.residentKilobytes(true), collector.openDescriptors(), static_cast<long>(answers));

    // Datagrams the kernel dropped because the collector's queue was full.
    {
        std::ifstream snmp("/proc/net/snmp");
        std::string names, values;
        for (std::string line; std::getline(snmp, line);) {
            if (line.rfind("Udp:", 0) != 0) continue;
            if (names.empty()) names = line;
            else values = line;
        }
        std::printf("kernel UDP counters: %s\n                     %s\n", names.c_str(), values.c_str());
    }
    // Every record once in the switches' old files, and once merged in new.
    std::vector<std::uint8_t> filed(static_cast<std::size_t>(total) + 1, 0);
    long duplicates = 0, strangers = 0;
    for (const auto& entry : fs::recursive_directory_iterator(collector.folder() / "rec")) {
        if (!entry.is_regular_file() || entry.path().extension() != ".txt" ||
            entry.path().parent_path().filename() != "old")
            continue;
        std::ifstream text(entry.path(), std::ios::binary);
        for (std::string line; std::getline(text, line);) {
            if (line.empty() || line[0] == '#') continue;
            const long id = std::atol(line.c_str());
            if (id <= 0 || id > total) {
                ++strangers;
            } else if (filed[static_cast<std::size_t>(id)]++) {
                ++duplicates;
            }
        }
    }
    long missing = 0, unanswered = 0;
    for (long id = 1; id <= total; ++id) {
        missing += filed[static_cast<std::size_t>(id)] ? 0 : 1;
        unanswered += answered[static_cast<std::size_t>(id)] ? 0 : 1;
    }
    std::printf("%ld records (+%ld repeats, %ld malformed) in %.0f s: %ld answers, %ld unanswered, %ld missing, "
                "%ld duplicated, %ld unknown lines in the files\n",
                total, static_cast<long>(repeats), static_cast<long>(malformed), seconds, static_cast<long>(answers),
                unanswered, missing, duplicates, strangers);
    return missing == 0 && duplicates == 0 && unanswered == 0 && strangers == 0 ? 0 : 1;
}
