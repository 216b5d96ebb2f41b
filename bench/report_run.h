#pragma once
// quelvar-report run by a benchmark, its answer thrown away. The program
// defines QUELVAR_REPORT, the path of the tool it measures.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

// Runs quelvar-report to its end; gives its seconds. A failure ends the
// benchmark: a time of a run that went wrong measures nothing.
inline double runReport(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUELVAR_REPORT));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto begin = std::chrono::steady_clock::now();
    pid_t child = -1;
    if (posix_spawn(&child, QUELVAR_REPORT, &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("quelvar-report");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "quelvar-report ended with status %d\n", status);
        std::exit(1);
    }
    return seconds;
}

// The fastest of `rounds` runs.
inline double bestOfRuns(int rounds, const std::vector<std::string>& arguments) {
    double fastest = 1e9;
    for (int round = 0; round < rounds; ++round) fastest = std::min(fastest, runReport(arguments));
    return fastest;
}
