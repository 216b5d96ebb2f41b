// How long from a call's acknowledgement to its alert at a webhook: the real
// collector files each call, `quelvar-report watch` beside it indexes it,
// raises a `call` alert for it and posts it to a receiver of this program.
// Run as: build/bench/alert_latency_bench [calls] [--every SECONDS] [--gap MILLISECONDS]
// (defaults 100 calls, watch's own --every, a call every 1700 ms, so that the
// calls fall at every point of watch's cycle). Prints the median and the
// worst latency.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "collector_run.h"
#include "support/own_network.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A webhook receiver: answers every POST with 200 and keeps the time it came
// and its body.
class Receiver {
public:
    Receiver() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 64) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("receiver");
            std::exit(1);
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Receiver() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }
    std::vector<std::pair<Clock::time_point, std::string>> posts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posts_;
    }

private:
    void serve() {
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0) continue;
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            std::string request;
            char piece[4096];
            std::size_t wanted = std::string::npos;
            while (request.size() < wanted) {
                pollfd reading{connection, POLLIN, 0};
                if (poll(&reading, 1, 5000) <= 0) break;
                const ssize_t got = read(connection, piece, sizeof piece);
                if (got <= 0) break;
                request.append(piece, static_cast<std::size_t>(got));
                const std::size_t end = request.find("\r\n\r\n");
                if (end != std::string::npos && wanted == std::string::npos) {
                    const std::size_t field = request.find("Content-Length:");
                    wanted = end + 4 + (field < end ? std::strtoul(request.c_str() + field + 15, nullptr, 10) : 0);
                }
            }
            const Clock::time_point came = Clock::now();
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            if (write(connection, answer.data(), answer.size()) < 0) std::perror("receiver answer");
            close(connection);
            const std::size_t body = request.find("\r\n\r\n");
            std::lock_guard<std::mutex> lock(mutex_);
            posts_.emplace_back(came, body == std::string::npos ? std::string() : request.substr(body + 4));
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, std::string>> posts_;
};

// Call `index`, from extension 7<index>, to a satellite number, starting now.
std::string callText(int index) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char start[16];
    std::strftime(start, sizeof start, "%y%m%d%H%M%S", &local);
    const std::string ext = std::to_string(7000 + index);
    return "RECORD:ID=" + std::to_string(index + 1) + "&RID=" + std::to_string(500000 + index) +
           "-1&ACCOUNT=" + ext + "&CPN=" + ext + "&CDPN=008821" + std::to_string(1000000 + index) +
           "&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&TIME-S=" + start + "&DURATION=60&TRUNKN=1&";
}

bool answered(int handle) {
    char answer[2048];
    pollfd waiting{handle, POLLIN, 0};
    return poll(&waiting, 1, 5000) > 0 && recv(handle, answer, sizeof answer, 0) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    int calls = 100;
    std::string every;
    int gapMilliseconds = 1700;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--every" && index + 1 < argc) {
            every = argv[++index];
        } else if (argument == "--gap" && index + 1 < argc) {
            gapMilliseconds = std::atoi(argv[++index]);
        } else {
            calls = std::atoi(argv[index]);
        }
    }
    if (calls <= 0 || gapMilliseconds < 0) {
        std::fprintf(stderr, "usage: alert_latency_bench [calls] [--every SECONDS] [--gap MILLISECONDS]\n");
        return 2;
    }
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");
    Receiver receiver;
    CollectorRun collector("AREACODE=0755\n", {}, [&](const std::filesystem::path& folder) {
        std::filesystem::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
        std::ofstream(folder / "alerts.csv") << "rule,match,band,limit,notify\n"
                                             << "call,00882,,1,webhook:http://127.0.0.1:" << receiver.port()
                                             << "/hook\n";
    });
    const std::string program = (collector.folder() / "quelvar-report").string();
    std::vector<std::string> words = {program, "watch"};
    if (!every.empty()) words.insert(words.end(), {"--every", every});
    std::vector<char*> arguments;
    for (std::string& word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (collector.folder() / "watch.log").string();
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t watch = -1;
    if (posix_spawn(&watch, program.c_str(), &actions, nullptr, arguments.data(), environ) != 0) {
        std::perror("watch");
        return 1;
    }
    posix_spawn_file_actions_destroy(&actions);

    const int handle = connectedSocket(1809);
    std::map<std::string, Clock::time_point> acknowledged;  // by extension
    for (int index = 0; index < calls; ++index) {
        const std::string datagram = encipher(callText(index));
        send(handle, datagram.data(), datagram.size(), 0);
        if (!answered(handle)) {
            std::fprintf(stderr, "call %d was not acknowledged\n", index);
            continue;
        }
        acknowledged[std::to_string(7000 + index)] = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds));
    }
    // Every alert, or two minutes past the last acknowledgement.
    const Clock::time_point deadline = Clock::now() + std::chrono::minutes(2);
    while (receiver.posts().size() < acknowledged.size() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(watch, SIGTERM);
    waitpid(watch, nullptr, 0);
    close(handle);

    std::vector<double> seconds;
    for (const auto& [came, body] : receiver.posts()) {
        const std::size_t field = body.find("\"ext\":\"");
        if (field == std::string::npos) continue;
        const auto call = acknowledged.find(body.substr(field + 7, 4));
        if (call == acknowledged.end()) continue;
        seconds.push_back(std::chrono::duration<double>(came - call->second).count());
        acknowledged.erase(call);
    }
    if (seconds.empty()) {
        std::fprintf(stderr, "no alert came; see %s\n", log.c_str());
        return 1;
    }
    std::printf("calls: %d, alerts received: %zu, not received: %zu\n", calls, seconds.size(), acknowledged.size());
    std::printf("acknowledgement to alert: median %.1f s, worst %.1f s\n", percentile(seconds, 0.5),
                *std::max_element(seconds.begin(), seconds.end()));
    return acknowledged.empty() ? 0 : 1;
}
