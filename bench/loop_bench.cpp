// Closed-loop throughput of the collector in its default mode: single-record
// enciphered datagrams sent one at a time, each waiting for its answer.
// Run as: build/bench/loop_bench [datagrams] [wrapper...]   (default 20000)
// A wrapper runs the collector under another program, e.g.
// `build/bench/loop_bench 10000 strace -c -o /tmp/calls.txt` to count its
// system calls.
// The collector runs from a temporary program folder in a network of its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/own_network.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const unsigned char wireKey[16] = {'L', 'u', 'm', 'e', 'n', 'H', 'a', 'r', 'p', 'Q', 'i', 0, 0, 0, 0, 0};

std::string cipher(EVP_CIPHER_CTX* context, const std::string& input, bool encrypt) {
    EVP_CipherInit_ex(context, EVP_aes_128_ecb(), nullptr, wireKey, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    std::string output(input.size() + 16, '\0');
    int length = 0;
    EVP_CipherUpdate(context, reinterpret_cast<unsigned char*>(output.data()), &length,
                     reinterpret_cast<const unsigned char*>(input.data()), static_cast<int>(input.size()));
    output.resize(static_cast<std::size_t>(length));
    return output;
}

bool portBound() {
    std::ifstream table("/proc/net/udp");
    std::stringstream contents;
    contents << table.rdbuf();
    return contents.str().find(":0711 ") != std::string::npos;
}

// The collector itself: the spawned process, or under a wrapper the
// wrapper's last descendant.
pid_t innermost(pid_t process) {
    for (;;) {
        std::ifstream children("/proc/" + std::to_string(process) + "/task/" + std::to_string(process) + "/children");
        pid_t child = 0;
        if (!(children >> child)) return process;
        process = child;
    }
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (!enterOwnNetwork()) std::fprintf(stderr, "note: sharing the machine's network\n");

    std::string pattern = (fs::temp_directory_path() / "quelvar-bench-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    fs::copy_file(QUELVAR_EXECUTABLE, folder / "quelvar");
    const std::string program = (folder / "quelvar").string();
    std::vector<char*> arguments;
    for (int index = 2; index < argc; ++index) arguments.push_back(argv[index]);
    arguments.push_back(const_cast<char*>(program.c_str()));
    arguments.push_back(nullptr);
    pid_t collector = -1;
    if (posix_spawnp(&collector, arguments[0], nullptr, nullptr, arguments.data(), environ) != 0) return 1;
    while (!portBound()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const int handle = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(1809);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(handle, reinterpret_cast<sockaddr*>(&target), sizeof target);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();

    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(count));
    int lost = 0;
    const auto begin = Clock::now();
    for (int index = 1; index <= count; ++index) {
        std::string text = "RECORD:ID=" + std::to_string(index) + "&RID=" + std::to_string(index) +
                           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&"
                           "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
        text.push_back('\0');
        text.append(16 - text.size() % 16, '\0');
        const std::string datagram = cipher(context, text, true);
        const auto sent = Clock::now();
        send(handle, datagram.data(), datagram.size(), 0);
        pollfd waiting{handle, POLLIN, 0};
        if (poll(&waiting, 1, 1000) <= 0) {
            ++lost;
            continue;
        }
        char answer[256];
        recv(handle, answer, sizeof answer, 0);
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();

    kill(innermost(collector), SIGTERM);
    waitpid(collector, nullptr, 0);
    fs::remove_all(folder);
    EVP_CIPHER_CTX_free(context);

    std::printf("closed loop, encrypted, single-record datagrams: %d sent, %d unanswered\n", count, lost);
    std::printf("  %.0f datagrams/s, latency p50 %.1f us, p99 %.1f us\n", count / seconds,
                latencies.empty() ? 0.0 : percentile(latencies, 0.50),
                latencies.empty() ? 0.0 : percentile(latencies, 0.99));
    return lost == 0 ? 0 : 1;
}
