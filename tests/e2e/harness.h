#pragma once
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

// A program folder of its own with a copy of the collector in it, as an
// operator would lay it out, and the collector's process started there.
class ProgramFolder {
public:
    // The folder is a fresh temporary one, or a folder of that name in it.
    explicit ProgramFolder(const std::string& name = {});
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const std::string& bytes) const;
    // A file that must be there (see readExisting).
    std::string read(const std::string& name) const;

    // Runs the collector until it ends by itself; gives its exit status.
    // `preload` names a shared library to load into it first. Ends the test
    // when the collector outlives the limit.
    int runToExit(const std::string& preload = {}, std::chrono::seconds limit = std::chrono::seconds(20));

    // Starts the collector and waits until it has logged its start and
    // listens on its port.
    void start();
    // The same under another program that starts the collector as its child
    // (strace, say) with these arguments before the collector's path; stop()
    // then ends the collector, and the other program ends with it.
    void startUnder(const std::vector<std::string>& wrapper);
    // Ends a running collector from outside, as an operator does.
    void stop();
    bool running() const { return process_ > 0; }
    // Sends the running collector a signal (Linux only). After one that
    // stops it, waitForEnd comes before any other wait of the harness.
    void signal(int number) const;
    // The running collector's resident memory in KiB (Linux only).
    long residentKilobytes() const;
    // Waits until the collector has ended, as a signal asked it to, and
    // gives its exit status; ends the test when it outlives the limit.
    int waitForEnd(std::chrono::seconds limit = std::chrono::seconds(10));

    struct Output {
        int status = -1;  // -1 when a signal ended it
        std::string output;
        std::string errors;
    };
    // Runs the collector's copy with the arguments (quoted for the shell)
    // until it ends, as an operator runs it from a console; gives its
    // standard output and standard error apart.
    Output run(const std::string& arguments) const;

    // The event log of today, and its lines with the stamps taken off
    // (every stamp is checked against the file's date on the way).
    std::string todaysLog() const;
    std::string todaysLogTexts() const;
    // What the collector wrote to standard error.
    std::string standardError() const;

private:
    friend void expectCollectorsRunning();
    void spawn(const std::string& preload = {});
    int waitForExit(std::chrono::milliseconds limit);
    // Its standard error and log, for the report of a failure.
    std::string whatItSaid() const;

    TempFolder folder_;
    std::filesystem::path path_;
    TempFolder outputs_;
    pid_t process_ = -1;
    std::vector<std::string> wrapper_;
};

class SwitchClient;

// With QUELVAR_WINDOWS_BUILD naming a folder with quelvar.exe and
// quelvar-send.exe, the tests run those under Wine instead of the Linux
// programs, all in the network the caller gives them.
bool underWine();
std::filesystem::path windowsBuild();
// A path as the collector names it in its log: under Wine on drive Z:, with
// backslashes and in the ANSI code page (936 on a Chinese Windows).
std::string collectorPath(const std::filesystem::path& path);
// UTF-8 text as the collector writes it where it uses the ANSI code page.
std::string ansiText(const std::string& utf8);

// Ends the running test with a fatal failure that says why, for functions that
// give a value and so cannot ASSERT (main.cpp makes every fatal failure end
// the test).
[[noreturn]] void endTest(const std::string& why);

// The bytes of a file the test needs; ends the test when it is not there,
// rather than compare its absence as empty text.
std::string readExisting(const std::filesystem::path& path);

// Ends the test when a collector it started has ended by itself: nothing
// would answer what the test waits for. Every wait of the harness asks.
void expectCollectorsRunning();

struct CommandOutcome {
    int status = -1;  // -1 when a signal ended it
    std::string output;
};
// Runs a shell command with its standard output and error read back and
// nothing on its standard input. Ends the test when the command outlives
// the limit (with everything it started), or when a collector the test
// started ends meanwhile.
CommandOutcome runCommand(const std::string& command, std::chrono::milliseconds limit);

// Returns once the collector has handled everything the switch sent before:
// it sends a datagram that is no record, plain to a collector of the plain
// mode, and waits until the log shows it.
void waitUntilHandled(const ProgramFolder& folder, const SwitchClient& sw, bool plain = false);

// The stop line that ends the log of a collector stopped by stop(). Under
// Wine it is ended as the task manager ends a program, without one.
std::string stopLineOfStop();

// Today's date in local time as YYYYMMDD.
std::string todayCompact();

// The event texts of a log with their stamps taken off; every stamp must
// carry the date of `compactDate`.
std::string stripStamps(const std::string& log, const std::string& compactDate);
