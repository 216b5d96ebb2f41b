#include "e2e/harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ctime>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "e2e/switch_client.h"
#include "e2e/watchdog.h"
#include "support/today.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

void failHere(const std::string& why) { FAIL() << why; }

}  // namespace

void endTest(const std::string& why) {
    failHere(why);
    // Only without main.cpp's listener does the failure come back here.
    throw std::runtime_error(why);
}

bool underWine() { return !windowsBuild().empty(); }

fs::path windowsBuild() {
    const char* folder = std::getenv("QUELVAR_WINDOWS_BUILD");
    return folder != nullptr ? fs::path(folder) : fs::path();
}

std::string collectorPath(const fs::path& path) {
    if (!underWine()) return path.string();
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return gbk(windows);
}

std::string ansiText(const std::string& utf8) { return underWine() ? gbk(utf8) : utf8; }

ProgramFolder::ProgramFolder(const std::string& name) : path_(name.empty() ? folder_.path() : folder_.path() / name) {
    fs::create_directories(path_);
    if (underWine()) fs::copy_file(windowsBuild() / "quelvar.exe", path_ / "quelvar.exe");
    else fs::copy_file(QUELVAR_EXECUTABLE, path_ / "quelvar");
}

namespace {

// The collectors started and not stopped: each must keep running.
std::vector<ProgramFolder*>& started() {
    static std::vector<ProgramFolder*> folders;
    return folders;
}

void forget(ProgramFolder* folder) { std::erase(started(), folder); }

}  // namespace

ProgramFolder::~ProgramFolder() {
    if (running()) stop();
    forget(this);
}

void ProgramFolder::write(const std::string& name, const std::string& bytes) const { writeBytes(path_ / name, bytes); }

std::string ProgramFolder::read(const std::string& name) const { return readExisting(path_ / name); }

std::string readExisting(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) endTest("no file " + path.string());
    return readBytes(path);
}

void ProgramFolder::spawn(const std::string& preload) {
    const std::string program = (path_ / (underWine() ? "quelvar.exe" : "quelvar")).string();
    const std::string errors = (outputs_.path() / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    // Started from another folder: the collector must find its own.
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    char wine[] = "wine";
    std::vector<char*> arguments;
    if (underWine()) arguments.push_back(wine);
    for (std::string& argument : wrapper_) arguments.push_back(argument.data());
    arguments.push_back(const_cast<char*>(program.c_str()));
    arguments.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) variables.emplace_back(*variable);
    if (!preload.empty()) {
        variables.push_back("LD_PRELOAD=" + preload);
        // A sanitizer's runtime would otherwise refuse a library loaded before it.
        variables.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    }
    std::vector<char*> environment;
    for (std::string& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);
    const int failed = posix_spawnp(&process_, arguments[0], &actions, nullptr, arguments.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) process_ = -1;
    else watchProcess(process_);
    ASSERT_EQ(failed, 0) << "cannot start " << program << ": " << std::strerror(failed);
}

int ProgramFolder::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(process_, &status, WNOHANG);
        if (ended == process_) {
            forgetProcess(process_);
            process_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ProgramFolder::runToExit(const std::string& preload, std::chrono::seconds limit) {
    spawn(preload);
    const int status = waitForExit(limit);
    if (status == -1) {
        stop();
        endTest("the collector did not end by itself within " + std::to_string(limit.count()) + " s");
    }
    return status;
}

namespace {

// Who holds the record port, for the report of a test that failed on it.
std::string portHolders() {
    std::string holders;
    const char* const command =
        "if command -v ss >/dev/null; then timeout 5 ss -uanp 'sport = :1809'; "
        "else echo '(ss of iproute2 is not installed to name them)'; fi 2>&1";
    if (FILE* pipe = popen(command, "r")) {
        char buffer[4096];
        for (std::size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;) holders.append(buffer, count);
        pclose(pipe);
    }
    return holders;
}

}  // namespace

void ProgramFolder::startUnder(const std::vector<std::string>& wrapper) {
    wrapper_ = wrapper;
    start();
}

void ProgramFolder::start() {
    // Under Wine every program's sockets are the one Wine server's: the
    // previous test's collector may hold the port a moment after it ended.
    ASSERT_TRUE(waitForRecordPort(std::chrono::seconds(5), false))
        << "port 1809 is still held after 5 s, so the collector could not listen on it:\n"
        << portHolders();
    spawn();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (todaysLog().find(collectorPath(path_) + "\r\n") == std::string::npos) {
        const int status = waitForExit(std::chrono::milliseconds(0));
        ASSERT_EQ(status, -1) << "the collector ended at start" << whatItSaid();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no start lines in the log within 20 s" << whatItSaid();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waitForRecordPort()) << "the collector does not listen on its port" << whatItSaid();
    started().push_back(this);
    expectCollectorsRunning();
}

void expectCollectorsRunning() {
    for (ProgramFolder* folder : started()) {
        if (!folder->running()) continue;
        const int status = folder->waitForExit(std::chrono::milliseconds(0));
        if (status != -1)
            endTest("the collector ended by itself, with status " + std::to_string(status) +
                    ", while the test needed it" + folder->whatItSaid());
    }
}

std::string ProgramFolder::whatItSaid() const {
    return "\nits standard error:\n" + standardError() + "\nits log:\n" + todaysLog();
}

void ProgramFolder::stop() {
    forget(this);
    if (!running()) return;
    // Under Wine as on Windows: ended as the task manager ends a program.
    // (A signal to Wine's process may leave its socket behind in the server.)
    if (underWine()) std::system("wine taskkill /F /IM quelvar.exe >/dev/null 2>&1");
    else if (wrapper_.empty()) kill(process_, SIGTERM);
    else {
        // The collector is the wrapping program's child.
        std::ifstream children("/proc/" + std::to_string(process_) + "/task/" + std::to_string(process_) + "/children");
        pid_t child = -1;
        if (children >> child) kill(child, SIGTERM);
    }
    if (waitForExit(std::chrono::seconds(10)) == -1) {
        kill(process_, SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
    // Under Wine the server closes the socket after the process has gone;
    // the next collector must not meet it.
    if (!waitForRecordPort(std::chrono::seconds(10), false)) ADD_FAILURE() << "port 1809 still bound after the stop:\n" << portHolders();
}

void ProgramFolder::signal(int number) const {
    if (underWine()) endTest("signals reach a Linux collector only");
    if (!running()) endTest("no collector to signal");
    kill(process_, number);
}

long ProgramFolder::residentKilobytes() const {
    if (underWine()) endTest("the resident memory is read of a Linux collector only");
    if (!running()) endTest("no collector to measure");
    std::ifstream status("/proc/" + std::to_string(process_) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
    endTest("no VmRSS line in /proc/" + std::to_string(process_) + "/status");
}

int ProgramFolder::waitForEnd(std::chrono::seconds limit) {
    forget(this);
    if (!running()) endTest("no collector to wait for");
    const int status = waitForExit(limit);
    if (status == -1) {
        stop();
        endTest("the collector did not end within " + std::to_string(limit.count()) + " s" + whatItSaid());
    }
    return status;
}

ProgramFolder::Output ProgramFolder::run(const std::string& arguments) const {
    const fs::path errors = outputs_.path() / "run-stderr";
    fs::remove(errors);
    const std::string program = (path_ / (underWine() ? "quelvar.exe" : "quelvar")).string();
    // From another folder, as start() does: the collector must find its own.
    const std::string command = std::string("cd / && ") + (underWine() ? "wine " : "") + "'" + program + "' " +
                                arguments + " 2>'" + errors.string() + "'";
    const CommandOutcome outcome = runCommand(command, std::chrono::seconds(30));
    return {outcome.status, outcome.output, readBytes(errors)};
}

// Asked again and again while the collector starts: empty until it is there.
std::string ProgramFolder::todaysLog() const { return readBytes(path_ / ("log/" + todayCompact() + ".log")); }

std::string ProgramFolder::todaysLogTexts() const { return stripStamps(todaysLog(), todayCompact()); }

std::string ProgramFolder::standardError() const { return readBytes(outputs_.path() / "stderr"); }

void waitUntilHandled(const ProgramFolder& folder, const SwitchClient& sw, bool plain) {
    static int marker = 0;
    const std::string text = "handled " + std::to_string(++marker);
    if (plain) sw.sendRaw(text);
    else sw.send(text);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (folder.todaysLog().find("[" + text + "]") == std::string::npos) {
        expectCollectorsRunning();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the collector has not logged [" << text << "] within 10 s";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

CommandOutcome runCommand(const std::string& command, std::chrono::milliseconds limit) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) endTest(std::string("no pipe for a command: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    // A group of its own, so that a command that hangs is ended with all it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    char shell[] = "sh", dashC[] = "-c";
    std::string text = command;
    char* arguments[] = {shell, dashC, text.data(), nullptr};
    pid_t process = -1;
    const int failed = posix_spawn(&process, "/bin/sh", &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (failed != 0) {
        close(output[0]);
        endTest("cannot run " + command + ": " + std::strerror(failed));
    }
    watchProcess(-process);

    CommandOutcome outcome;
    const auto end = [&] {
        kill(-process, SIGKILL);
        waitpid(process, nullptr, 0);
        forgetProcess(-process);
        close(output[0]);
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool reading = true;
    for (;;) {
        if (reading) {
            pollfd waiting{output[0], POLLIN, 0};
            if (poll(&waiting, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t count = read(output[0], buffer, sizeof buffer);
                if (count > 0) outcome.output.append(buffer, static_cast<std::size_t>(count));
                else reading = false;
            }
        } else {
            int status = 0;
            if (waitpid(process, &status, WNOHANG) == process) {
                forgetProcess(-process);
                close(output[0]);
                outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return outcome;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        try {
            expectCollectorsRunning();
        } catch (...) {
            end();
            throw;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            end();
            endTest(command + "\ndid not end within " + std::to_string(limit.count()) + " ms; its output:\n" +
                    outcome.output);
        }
    }
}

std::string stopLineOfStop() { return underWine() ? "" : "Quelvar stop 2.0.0.10\r\n"; }

std::string todayCompact() { return todayAs("%Y%m%d"); }

std::string stripStamps(const std::string& log, const std::string& compactDate) {
    static const std::regex stamp("(\\d{4})-(\\d\\d)-(\\d\\d)   \\d\\d:\\d\\d:\\d\\d   ");
    std::string texts;
    std::size_t position = 0;
    for (std::smatch found; std::regex_search(log.begin() + static_cast<long>(position), log.end(), found, stamp);) {
        EXPECT_EQ(found.str(1) + found.str(2) + found.str(3), compactDate);
        texts += log.substr(position, static_cast<std::size_t>(found.position(0)));
        position += static_cast<std::size_t>(found.position(0) + found.length(0));
    }
    return texts + log.substr(position);
}
