// What `quelvar-report index` costs over the files of many calls, filed by
// the real collector: the first index, the index after one more day, and a
// count over the index.
// Run as: build/bench/report_bench [calls] [--keep FOLDER]   (default 1000000)
// --keep leaves a copy of the collector's folder there, to index again by hand.
// The calls spread over 30 days and 8 switches; every fourth has two legs,
// some of whose second legs start after midnight (filed in the next day's file).
// One more day's share of calls follows the first index.
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

extern char** environ;

namespace {

constexpr int days = 30;
constexpr int switches = 8;

// The datagram of one call: one line per leg.
std::string callText(long call, int day) {
    const std::string key = std::to_string(100000 + call);
    const std::string mac = "00-1A-2B-3C-4D-5" + std::to_string(call % switches);
    const int legs = call % 4 == 0 ? 2 : 1;
    const int duration = static_cast<int>(30 + call % 600);
    std::string text;
    for (int leg = 1; leg <= legs; ++leg) {
        // The second leg starts when the first ends, at times after midnight.
        int second = static_cast<int>(call % 86400) + (leg - 1) * duration;
        int legDay = day;
        if (second >= 86400 && day < 31) {
            second -= 86400;
            ++legDay;
        }
        second = std::min(second, 86399);
        char start[48];
        std::snprintf(start, sizeof start, "2403%02d%02d%02d%02d", legDay, second / 3600, second / 60 % 60,
                      second % 60);
        if (leg > 1) text += "\n";
        text += "RECORD:ID=" + std::to_string(call * 2 + leg) + "&RID=" + key + "-" + std::to_string(leg) +
                "&ACCOUNT=8" + std::to_string(call % 1000) + "&CPN=8" + std::to_string(call % 1000) +
                "&CDPN=139" + std::to_string(10000000 + call % 9999999) + "&TYPE=OU&ROUTE=IP&MAC=" + mac +
                "&TIME-S=" + start + "&DURATION=" + std::to_string(duration) + "&TRUNKN=" +
                std::to_string(leg) + "&";
    }
    return text;
}

// Sends the calls in windows of 64, each window waiting for its answers; gives the seconds of legs sent.
long long sendCalls(int handle, long first, long count, int dayOf(long), long& lost) {
    long long seconds = 0;
    char answer[70000];
    constexpr long window = 64;
    for (long sent = 0; sent < count;) {
        const long batch = std::min(window, count - sent);
        for (long index = 0; index < batch; ++index) {
            const long call = first + sent + index;
            const std::string datagram = encipher(callText(call, dayOf(call)));
            send(handle, datagram.data(), datagram.size(), 0);
            seconds += (call % 4 == 0 ? 2 : 1) * (30 + call % 600);
        }
        long answered = 0;
        while (answered < batch) {
            pollfd waiting{handle, POLLIN, 0};
            if (poll(&waiting, 1, 2000) <= 0) break;
            if (recv(handle, answer, sizeof answer, 0) > 0) ++answered;
        }
        lost += batch - answered;
        sent += batch;
    }
    return seconds;
}

// Runs quelvar-report to its end; gives its seconds.
double runReport(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUELVAR_REPORT));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto begin = std::chrono::steady_clock::now();
    pid_t child = -1;
    if (posix_spawn(&child, QUELVAR_REPORT, nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("quelvar-report");
        std::exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "quelvar-report ended with status %d\n", status);
        std::exit(1);
    }
    return seconds;
}

long peakChildKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    long total = 1000000;
    std::string keep;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--keep" && index + 1 < argc) keep = argv[++index];
        else total = std::atol(argv[index]);
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    CollectorRun collector("");
    const int handle = connectedSocket(1809);
    const std::string database = (collector.folder().parent_path() / (collector.folder().filename().string() + ".db")).string();

    long lost = 0;
    auto begin = std::chrono::steady_clock::now();
    long long seconds = sendCalls(handle, 0, total, [](long call) { return static_cast<int>(1 + call % days); }, lost);
    std::printf("%ld calls over %d days and %d switches sent in %.1f s, %ld unanswered\n", total, days, switches,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), lost);
    std::fflush(stdout);

    const std::string root = collector.folder().string();
    const double first = runReport({"index", "--root", root, "--db", database});
    const long firstPeak = peakChildKilobytes();
    std::printf("first index:       %6.2f s, peak resident %ld KiB, database %.0f MB\n", first, firstPeak,
                static_cast<double>(std::filesystem::file_size(database)) / 1e6);
    std::fflush(stdout);

    const long more = total / days;
    seconds += sendCalls(handle, total, more, [](long) { return days + 1; }, lost);
    const double incremental = runReport({"index", "--root", root, "--db", database});
    std::printf("after one more day of %ld calls: %6.2f s, peak resident of both runs %ld KiB\n", more, incremental,
                peakChildKilobytes());

    // The place for the query side's summary; until then the count SQLite gives.
    sqlite3* index = nullptr;
    sqlite3_open_v2(database.c_str(), &index, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    begin = std::chrono::steady_clock::now();
    sqlite3_prepare_v2(index, "SELECT count(*), sum(seconds) FROM calls", -1, &statement, nullptr);
    long long calls = 0, indexed = 0;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        calls = sqlite3_column_int64(statement, 0);
        indexed = sqlite3_column_int64(statement, 1);
    }
    sqlite3_finalize(statement);
    sqlite3_close(index);
    std::printf("count and sum over the index: %.3f s: %lld calls (%ld sent), %lld s (%lld sent)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), calls, total + more,
                indexed, seconds);
    std::filesystem::remove(database);
    close(handle);
    if (!keep.empty())
        std::filesystem::copy(collector.folder(), keep, std::filesystem::copy_options::recursive);
    return lost == 0 && calls == total + more && indexed == seconds ? 0 : 1;
}
