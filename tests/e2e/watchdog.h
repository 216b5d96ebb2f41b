#pragma once
#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// The processes a test has started and not yet seen end: the watchdog kills
// them when the test hangs. A negative number names a process group.
void watchProcess(pid_t process);
void forgetProcess(pid_t process);

// Gives every test a time limit. A test that outlives it is named on
// standard error, the processes it started are killed and the run ends with
// status 124: one hung test cannot hold up the suite. Runs a thread, so it
// must be made after the process has entered a network of its own.
class Watchdog : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog() override;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void OnTestStart(const testing::TestInfo& test) override;
    void OnTestEnd(const testing::TestInfo& test) override;

private:
    void watch();
    [[noreturn]] void fire();

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string test_;  // empty while no test runs
    std::chrono::steady_clock::time_point deadline_;
    bool done_ = false;
    std::thread thread_;
};
