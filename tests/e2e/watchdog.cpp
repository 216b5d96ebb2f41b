#include "e2e/watchdog.h"

#include <signal.h>
#include <unistd.h>

#include <set>

namespace {

std::mutex processesMutex;
std::set<pid_t> processes;

}  // namespace

void watchProcess(pid_t process) {
    std::lock_guard lock(processesMutex);
    processes.insert(process);
}

void forgetProcess(pid_t process) {
    std::lock_guard lock(processesMutex);
    processes.erase(process);
}

Watchdog::Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_one();
    thread_.join();
}

void Watchdog::OnTestStart(const testing::TestInfo& test) {
    {
        std::lock_guard lock(mutex_);
        test_ = std::string(test.test_suite_name()) + "." + test.name();
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }
    changed_.notify_one();
}

void Watchdog::OnTestEnd(const testing::TestInfo&) {
    {
        std::lock_guard lock(mutex_);
        test_.clear();
    }
    changed_.notify_one();
}

void Watchdog::watch() {
    std::unique_lock lock(mutex_);
    while (!done_) {
        if (test_.empty()) changed_.wait(lock);
        else if (std::chrono::steady_clock::now() >= deadline_) fire();
        else changed_.wait_until(lock, deadline_);
    }
}

void Watchdog::fire() {
    // The test's thread is stuck somewhere: only what cannot block on it.
    std::string report = "\n[ WATCHDOG ] " + test_ + " did not end within " + std::to_string(limit_.count()) +
                         " s; the processes it started are killed and the run ends here:";
    {
        std::lock_guard lock(processesMutex);
        for (const pid_t process : processes) {
            report += process < 0 ? " group " + std::to_string(-process) : " " + std::to_string(process);
            kill(process, SIGKILL);
        }
        report += processes.empty() ? " (none)\n" : "\n";
    }
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, report.data(), report.size());
    _exit(124);
}
