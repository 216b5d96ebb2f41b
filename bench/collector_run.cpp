#include "collector_run.h"

#include <fcntl.h>

#include "support/openssl_wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool portBound() {
    std::ifstream table("/proc/net/udp");
    std::stringstream contents;
    contents << table.rdbuf();
    return contents.str().find(":0711 ") != std::string::npos;
}

}  // namespace

CollectorRun::CollectorRun(const std::string& configuration, const std::vector<std::string>& wrapper,
                           const std::function<void(const fs::path&)>& prepare, const std::string& executable) {
    std::string pattern = (fs::temp_directory_path() / "quelvar-bench-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    fs::copy_file(executable.empty() ? std::string(QUELVAR_EXECUTABLE) : executable, folder_ / "quelvar");
    if (!configuration.empty()) std::ofstream(folder_ / "Quelvar.ini") << configuration;
    if (prepare) prepare(folder_);
    const std::string program = (folder_ / "quelvar").string();
    std::vector<char*> arguments;
    for (const std::string& part : wrapper) arguments.push_back(const_cast<char*>(part.c_str()));
    arguments.push_back(const_cast<char*>(program.c_str()));
    arguments.push_back(nullptr);
    // The collector's start line and warnings go beside it, not into the
    // figures; a wrapper's report (time, strace) stays on standard error.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string errors = (folder_ / "stderr").string();
    if (wrapper.empty()) posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawnp(&spawned_, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    while (!portBound()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

CollectorRun::~CollectorRun() {
    kill(process(), SIGTERM);
    waitpid(spawned_, nullptr, 0);
    fs::remove_all(folder_);
}

pid_t CollectorRun::process() const {
    pid_t current = spawned_;
    for (;;) {
        std::ifstream children("/proc/" + std::to_string(current) + "/task/" + std::to_string(current) + "/children");
        pid_t child = 0;
        if (!(children >> child)) return current;
        current = child;
    }
}

long CollectorRun::residentKilobytes(bool peak) const {
    std::ifstream status("/proc/" + std::to_string(process()) + "/status");
    const std::string key = peak ? "VmHWM:" : "VmRSS:";
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return -1;
}

long CollectorRun::openDescriptors() const {
    long count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/" + std::to_string(process()) + "/fd"))
        ++count;
    return count;
}

long CollectorRun::filedLines(const std::string& subFolder, const std::string& extension) const {
    long lines = 0;
    if (!fs::exists(folder_ / "rec")) return 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder_ / "rec")) {
        if (!entry.is_regular_file() || entry.path().extension() != extension ||
            entry.path().parent_path().filename() != subFolder)
            continue;
        std::ifstream text(entry.path(), std::ios::binary);
        for (std::string line; std::getline(text, line);)
            if (!line.empty() && line[0] != '#' && line[0] != ' ') ++lines;
    }
    return lines;
}

int connectedSocket(int port) {
    const int handle = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(handle, reinterpret_cast<sockaddr*>(&target), sizeof target);
    const int bytes = 16 << 20;
    setsockopt(handle, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    return handle;
}

std::string encipher(const std::string& gbkText) { return encipherDatagram(gbkText); }

std::string decipher(const std::string& datagram) { return decipherDatagram(datagram); }

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}
