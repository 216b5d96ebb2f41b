// What hostile senders on the local network make the collector do, in the
// encrypted mode: how fast the event log grows under a flood (record
// datagrams of junk lines, control bytes after "RECORD:", junk from 2,000
// addresses), how many switch folders a flood of new MACs makes and how many
// "record not written" lines it causes, and whether a real switch's call
// sent twice is filed once after a flood of keys that are never answered.
// Run as: build/bench/hostile_bench [--seconds N] [--executable PATH] [--only log|switches|keys]
//   (N defaults to 5; PATH is another build of the collector, to compare)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string executable;

// A socket sending from 127.a.b.c to the collector's port.
int socketFrom(const std::string& address) {
    const int handle = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &own.sin_addr);
    bind(handle, reinterpret_cast<sockaddr*>(&own), sizeof own);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(1809);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(handle, reinterpret_cast<sockaddr*>(&target), sizeof target);
    return handle;
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

std::string logText(const CollectorRun& collector) {
    std::string text;
    if (fs::exists(collector.folder() / "log"))
        for (const auto& entry : fs::directory_iterator(collector.folder() / "log")) {
            std::ifstream in(entry.path(), std::ios::binary);
            text += std::string(std::istreambuf_iterator<char>(in), {});
        }
    return text;
}

long occurrences(const std::string& text, const std::string& part) {
    long count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Sends the datagrams in turn, each from its socket, for `seconds`; then
// waits until the collector has taken everything the kernel kept for it.
long flood(const std::vector<int>& sockets, const std::vector<std::string>& datagrams, double seconds) {
    long sent = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (std::size_t index = 0; index % 64 != 0 || Clock::now() < end; ++index) {
        const std::string& datagram = datagrams[index % datagrams.size()];
        if (send(sockets[index % sockets.size()], datagram.data(), datagram.size(), 0) > 0) ++sent;
    }
    return sent;
}

// A record a real switch sends, answered once filed: the collector has
// handled everything sent before it.
void settle(const std::string& from) {
    const int handle = socketFrom(from);
    const std::string datagram = encipher(
        "RECORD:ID=9&RID=999999-1&CPN=8001&CDPN=66001234&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-99&"
        "TIME-S=240315093000&DURATION=1&");
    char answer[100];
    for (int attempt = 0; attempt < 600; ++attempt) {
        send(handle, datagram.data(), datagram.size(), 0);
        pollfd ready{handle, POLLIN, 0};
        if (poll(&ready, 1, 100) > 0 && recv(handle, answer, sizeof answer, 0) > 0) break;
    }
    close(handle);
}

void logFlood(const char* name, const std::vector<std::string>& texts, int senders, double seconds) {
    CollectorRun collector("", {}, {}, executable);
    std::vector<int> sockets;
    for (int sender = 0; sender < senders; ++sender)
        sockets.push_back(
            socketFrom("127.0." + std::to_string(1 + sender / 250) + "." + std::to_string(1 + sender % 250)));
    std::vector<std::string> datagrams;
    for (const std::string& text : texts) datagrams.push_back(encipher(text));
    const long before = logBytes(collector);
    const auto start = Clock::now();
    const long sent = flood(sockets, datagrams, seconds);
    settle("127.1.0.1");
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    const long grown = logBytes(collector) - before;
    std::printf("%-34s %8ld datagrams from %4d senders: log +%11ld bytes in %5.1f s = %9.0f bytes/s\n", name, sent,
                senders, grown, took, static_cast<double>(grown) / took);
    for (const int handle : sockets) close(handle);
}

std::string recordOf(long id, const std::string& mac) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&CPN=8001&CDPN=66001234&TYPE=OU&ROUTE=IP&MAC=" + mac + "&TIME-S=240315093000&DURATION=1&";
}

void newSwitches(long datagrams) {
    CollectorRun collector("", {}, {}, executable);
    const int handle = socketFrom("127.0.0.1");
    const auto start = Clock::now();
    for (long datagram = 0; datagram < datagrams; ++datagram) {
        std::string text;
        for (int line = 0; line < 64; ++line) {
            char mac[32];
            const long number = datagram * 64 + line;
            std::snprintf(mac, sizeof mac, "02-00-00-%02lX-%02lX-%02lX", (number >> 16) & 255, (number >> 8) & 255,
                          number & 255);
            text += (line == 0 ? "" : "\n") + recordOf(number + 1, mac);
        }
        const std::string sent = encipher(text);
        send(handle, sent.data(), sent.size(), 0);
        // Not faster than it is taken: every datagram counts.
        if (datagram % 16 == 15) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    settle("127.1.0.1");
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    long folders = 0, inodes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(collector.folder() / "rec")) {
        ++inodes;
        if (entry.is_directory() && entry.path().parent_path() == collector.folder() / "rec") ++folders;
    }
    const std::string log = logText(collector);
    std::printf(
        "new MACs: %ld datagrams of 64 in %.1f s: %ld switch folders, %ld inodes under rec, "
        "%ld \"record not written\" lines, log %ld bytes\n",
        datagrams, took, folders, inodes, occurrences(log, "record not written"), static_cast<long>(log.size()));
    close(handle);
}

void unansweredKeys(long keys) {
    // A file where the log folder belongs: the log lines fail at once, so
    // that the keys come as fast as a faster machine would take them.
    CollectorRun collector(
        "", {}, [](const fs::path& folder) { std::ofstream(folder / "log") << ""; }, executable);
    const int flooder = socketFrom("127.0.0.1");
    const auto start = Clock::now();
    for (long key = 0; key < keys; ++key) {
        const std::string datagram = encipher("record:ID=1&RID=" + std::to_string(key) + "-1&");
        send(flooder, datagram.data(), datagram.size(), 0);
        if (key % 64 == 63) std::this_thread::sleep_for(std::chrono::microseconds(1500));
    }
    settle("127.1.0.1");
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    // A real switch's call sent twice within a second, its answer lost.
    const int sw = socketFrom("127.0.0.2");
    const std::string call = encipher(recordOf(77, "00-1A-2B-3C-4D-5E"));
    char answer[100];
    for (int copy = 0; copy < 2; ++copy) {
        send(sw, call.data(), call.size(), 0);
        pollfd ready{sw, POLLIN, 0};
        if (poll(&ready, 1, 2000) > 0) static_cast<void>(recv(sw, answer, sizeof answer, 0));
    }
    std::ifstream file(collector.folder() / "rec" / "00-1A-2B-3C-4D-5E" / "old" / "CDR_2024_03_15.txt");
    const std::string filed((std::istreambuf_iterator<char>(file)), {});
    std::printf(
        "unanswered keys: %ld sent in %.1f s (%ld dropped by the kernel), then a switch's call sent twice: "
        "filed %ld times\n",
        keys, took, portDrops(), occurrences(filed, "00000000000000077-1"));
    close(flooder);
    close(sw);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    std::string only;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--seconds" && index + 1 < argc)
            seconds = std::atof(argv[++index]);
        else if (argument == "--executable" && index + 1 < argc)
            executable = argv[++index];
        else if (argument == "--only" && index + 1 < argc)
            only = argv[++index];
        else {
            std::fprintf(stderr, "usage: hostile_bench [--seconds N] [--executable PATH] [--only log|switches|keys]\n");
            return 2;
        }
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");

    // Without a RID the datagram is never a repeat.
    if (only.empty() || only == "log") {
        std::string junkLines = "RECORD:ID=1&MAC=00-1A-2B-3C-4D-5E&";
        for (int line = 1; line < 64; ++line) junkLines += "\n" + std::string(900, 'x');
        logFlood("record datagram of 63 junk lines", {junkLines}, 1, seconds);
        logFlood("64 KB of control bytes after RECORD:", {"RECORD:" + std::string(65000, '\x01')}, 1, seconds);
        logFlood("junk from 2,000 addresses", {std::string(1400, 'j')}, 2000, seconds);
    }
    if (only.empty() || only == "switches") newSwitches(200);
    if (only.empty() || only == "keys") unansweredKeys(300000);
    return 0;
}
