// The collector as an operator runs it: a port it cannot have, a second copy
// started beside it, floods of empty datagrams and of junk, stops by signal,
// the start line and systemd's readiness, the configuration check and the
// senders it lets in.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/harness.h"
#include "e2e/record_files.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

const std::string stopLine = "Quelvar stop 2.0.0.10\r\n";
const std::string macText = "00:1A:2B:3C:4D:5E";
const std::string macFolder = "00-1A-2B-3C-4D-5E";

// Under Wine the collector is about ten times slower: the floods are a
// tenth as long there, in the same shape.
long scaled(long count) { return underWine() ? count / 10 : count; }

// The two receive loops, and what an operator sees of each.
struct Mode {
    const char* name;
    std::string configuration;
    // The line that tells that port 1809 could not be had.
    std::string portLine;
    bool plain;
};
const Mode encrypted{"encrypted", "", "Sock Create failed!", false};
const Mode plain{"plain", "ENCRYPT=0\r\n", "bind failed!", true};

void configure(const ProgramFolder& folder, const std::string& configuration) {
    if (!configuration.empty()) folder.write("Quelvar.ini", ansiText(configuration));
}

std::string startLines(const ProgramFolder& folder, const Mode& mode) {
    return "Quelvar startup 2.0.0.10\r\nencrypt:" + std::string(mode.plain ? "0" : "1") + " areacode: \r\n" +
           collectorPath(folder.path()) + "\r\n";
}

// The line on standard error at every start without settings beyond the mode.
std::string startedLine(const ProgramFolder& folder, const Mode& mode) {
    return "quelvar 2.0.0.10 started: mode: " + std::string(mode.name) +
           ", UDP port 1809; program folder: " + collectorPath(folder.path()) +
           "; data root: " + collectorPath(folder / "rec") +
           "; area code: none; type filter: none; senders: every sender; sync: on\n";
}

// The log texts written since the start lines.
std::string newLog(const ProgramFolder& folder) {
    const std::string texts = folder.todaysLogTexts();
    const std::string start = collectorPath(folder.path()) + "\r\n";
    const std::size_t found = texts.find(start);
    if (found == std::string::npos) endTest("no start lines in the log:\n" + texts);
    return texts.substr(found + start.size());
}

// A call of one leg; in either mode it is answered "RECORD:ID=<id>".
std::string recordText(long id, const std::string& mac = macText) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=" + mac +
           "&TIME-S=240315093000&DURATION=75&TRUNKN=3&";
}

void send(const Mode& mode, const SwitchClient& sw, const std::string& text) {
    if (mode.plain) sw.sendRaw(text);
    else sw.send(text);
}

// The answer as the mode words it: the plain mode's ends in a zero byte.
std::string answerTo(const Mode& mode, long id) {
    const std::string text = "RECORD:ID=" + std::to_string(id);
    return mode.plain ? text + '\0' : text;
}

std::optional<std::string> nextAnswer(const Mode& mode, const SwitchClient& sw,
                                      std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    return mode.plain ? sw.receiveRaw(limit) : sw.receive(limit);
}

std::string recvfrom(const SwitchClient& sw, const std::string& text) {
    return "recvfrom " + sw.address() + ":" + std::to_string(sw.port()) + " [" + text + "]\r\n";
}

// Data lines (no headers) of the switches' files of one kind, e.g. ("old", ".txt").
long dataLines(const fs::path& root, const std::string& subFolder, const std::string& extension) {
    long lines = 0;
    if (!fs::exists(root)) return 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != extension ||
            entry.path().parent_path().filename() != subFolder)
            continue;
        std::istringstream text(readBytes(entry.path()));
        for (std::string line; std::getline(text, line);)
            if (!line.empty() && line[0] != '#' && line[0] != ' ') ++lines;
    }
    return lines;
}

void expectEveryRecordFiled(const ProgramFolder& folder, long records) {
    EXPECT_EQ(dataLines(folder / "rec", "old", ".txt"), records);
    EXPECT_EQ(dataLines(folder / "rec", "new", ".txt"), records);
    EXPECT_EQ(dataLines(folder / "rec", "new", ".csv"), records);
}

// Everything under a folder, to see that nothing was made in it.
std::set<std::string> contentsOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

// Holds port 1809 as another program would.
class PortHolder {
public:
    PortHolder() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(1809);
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            endTest(std::string("cannot hold port 1809: ") + std::strerror(errno));
    }
    ~PortHolder() { close(socket_); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

private:
    int socket_;
};

// Runs a collector that cannot have port 1809 and checks that it says so
// in its log and on standard error, and ends with status 1.
void expectRefusedThePort(ProgramFolder& folder, const Mode& mode) {
    EXPECT_EQ(folder.runToExit(), 1);
    const std::string texts = folder.todaysLogTexts();
    const std::string head = startLines(folder, mode) + mode.portLine + "\r\nERROR   bind UDP port 1809: ";
    ASSERT_TRUE(texts.starts_with(head)) << texts;
    const std::string reason = texts.substr(head.size(), texts.find("\r\n", head.size()) - head.size());
    // Windows words it in the system's language.
    if (underWine()) EXPECT_FALSE(reason.empty());
    else EXPECT_EQ(reason, std::strerror(EADDRINUSE));
    EXPECT_EQ(texts, head + reason + "\r\n" + stopLine);
    EXPECT_EQ(folder.standardError(),
              startedLine(folder, mode) + mode.portLine + "\nERROR   bind UDP port 1809: " + reason + "\n");
}

TEST(PortTaken, EitherModeTellsItsLineAndTheReasonAndEndsWithStatusOne) {
    for (const Mode& mode : {encrypted, plain}) {
        SCOPED_TRACE(mode.name);
        const PortHolder holder;
        ProgramFolder folder;
        configure(folder, mode.configuration);
        expectRefusedThePort(folder, mode);
    }
}

TEST(PortTaken, SecondCollectorIsRefusedWhileTheFirstGoesOnFilingAndAnswering) {
    // The first binds alone: a second copy of either mode meets a taken port.
    ProgramFolder first;
    first.start();
    const SwitchClient sw;
    long id = 0;
    for (const Mode& mode : {encrypted, plain}) {
        SCOPED_TRACE(mode.name);
        ProgramFolder second;
        configure(second, mode.configuration);
        expectRefusedThePort(second, mode);
        sw.send(recordText(++id));
        EXPECT_EQ(sw.receive(), answerTo(encrypted, id));
    }
    waitUntilHandled(first, sw);
    expectEveryRecordFiled(first, id);
}

TEST(Flood, EmptyDatagramsDoNotHoldUpTheRecordsBetweenThem) {
    const long records = scaled(1000);
    const int emptiesPerRecord = 100;
    // Handled at once this takes seconds; a pause for every empty datagram
    // would take a thousand.
    const auto limit = std::chrono::seconds(30);
    for (const Mode& mode : {encrypted, plain}) {
        SCOPED_TRACE(mode.name);
        ProgramFolder folder;
        // A thousand records one after another: the loop's pace is looked at
        // here, not the disk's sync time.
        configure(folder, mode.configuration + "SYNC=0\r\n");
        folder.start();
        const SwitchClient sw;
        std::string expected;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (long id = 1; id <= records; ++id) {
            for (int empty = 0; empty < emptiesPerRecord; ++empty) sw.sendRaw("");
            send(mode, sw, recordText(id));
            // Answered only once the empty datagrams before it are read.
            ASSERT_EQ(nextAnswer(mode, sw, std::chrono::seconds(10)), answerTo(mode, id));
            ASSERT_TRUE(std::chrono::steady_clock::now() < deadline)
                << "only " << id << " of " << records << " records were answered within " << limit.count()
                << " s among " << emptiesPerRecord << " empty datagrams each: the empty ones hold the loop up";
            expected += recvfrom(sw, recordText(id));
        }
        waitUntilHandled(folder, sw, mode.plain);
        EXPECT_EQ(recordPortQueue().drops, 0) << "every empty datagram reached the collector";
        expectEveryRecordFiled(folder, records);
        // Not a line for an empty datagram; the last one is waitUntilHandled's.
        const std::string log = newLog(folder);
        EXPECT_EQ(log.substr(0, log.rfind("unknown message ")), expected);
    }
}

TEST(Flood, JunkFromOneSenderIsToldTenTimesAndCountedAtTheStop) {
    const long junk = scaled(100000);
    // Well within the least room the system gives the collector's socket.
    const long burst = 100;
    for (const Mode& mode : {encrypted, plain}) {
        SCOPED_TRACE(mode.name);
        ProgramFolder folder;
        configure(folder, mode.configuration);
        folder.start();
        const std::size_t logBefore = folder.todaysLog().size();
        const SwitchClient sw;
        const std::string sender = "127.0.0.1:" + std::to_string(sw.port());
        std::string expected;
        const auto exchange = [&](long id) {
            send(mode, sw, recordText(id));
            EXPECT_EQ(nextAnswer(mode, sw), answerTo(mode, id));
            expected += recvfrom(sw, recordText(id));
        };
        for (long n = 1; n <= junk; ++n) {
            const std::string text = "junk " + std::to_string(n);
            send(mode, sw, text);
            if (n <= 10) expected += "unknown message " + sender + " [" + text + "]\r\n";
            if (n % burst == 0) waitUntilRead();
            if (n == junk / 2) exchange(1);
        }
        // Answered only once the collector has handled all the junk.
        exchange(2);
        folder.stop();
        // Under Wine the collector is ended without an orderly stop, so the
        // count of a minute not yet over is never told.
        if (!underWine())
            expected += "WARNING   " + std::to_string(junk - 10) +
                        " more unknown messages from 127.0.0.1 suppressed\r\n" + stopLine;
        EXPECT_EQ(newLog(folder), expected);
        expectEveryRecordFiled(folder, 2);
        testing::Test::RecordProperty(std::string(mode.name) + "_log_growth_bytes",
                                      std::to_string(folder.todaysLog().size() - logBefore));
    }
}

// The columns of recordText(id) as filed with AREACODE=0755.
RecordColumns columnsOf(long id) {
    return {std::to_string(id) + "-1", "8001", "8001", "1", "13912345678", "市话", "OU", "IP", "240315093000",
            "240315093115", "75", "3"};
}

// The record IDs of an old-format file's lines, in their order.
std::vector<long> filedIds(const std::string& oldFile) {
    std::vector<long> ids;
    std::istringstream lines(oldFile);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') ids.push_back(std::strtol(line.c_str(), nullptr, 10));
    return ids;
}

TEST(Stop, SignalInTheMiddleOfABurstLeavesEveryAcknowledgedRecordWhole) {
    if (underWine()) GTEST_SKIP() << "signals are Linux's: under Wine the collector is ended with taskkill /F";
    const ScopedTimeZone zone("CST-8");
    const long burst = 2000;
    for (const int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(number));
        ProgramFolder folder;
        folder.write("Quelvar.ini", "AREACODE=0755\r\n");
        folder.start();
        const SwitchClient sw;
        std::set<long> answered;
        const auto take = [&](const std::optional<std::string>& answer) {
            ASSERT_TRUE(answer.has_value() && answer->starts_with("RECORD:ID=")) << answer.value_or("(none)");
            answered.insert(std::strtol(answer->c_str() + 10, nullptr, 10));
        };
        for (long id = 1; id <= burst / 2; ++id) sw.send(recordText(id));
        while (answered.size() < 100) take(sw.receive(std::chrono::seconds(10)));
        folder.signal(number);
        // These come after the signal: at most the datagram in hand is still handled.
        for (long id = burst / 2 + 1; id <= burst; ++id) sw.send(recordText(id));
        EXPECT_EQ(folder.waitForEnd(), 0);
        // Every answer the collector sent is here by now.
        while (const auto answer = sw.receive(std::chrono::milliseconds(5))) take(answer);

        const std::string oldFile = readExisting(folder / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt"));
        const std::vector<long> ids = filedIds(oldFile);
        const std::set<long> filed(ids.begin(), ids.end());
        EXPECT_LT(filed.size(), static_cast<std::size_t>(burst) / 2 + 2) << "the stop came in the middle";
        for (const long id : answered) EXPECT_TRUE(filed.contains(id)) << "record " << id << " was answered";
        // Every record filed is filed whole, in each of its three lines.
        std::string oldLines, newLines, csvLines, logLines;
        for (const long id : ids) {
            RecordColumns line = columnsOf(id);
            newLines += newLine(line);
            csvLines += csvLine(line, "呼出", "IP中继");
            line.count = "";
            oldLines += oldLine(line);
            logLines += recvfrom(sw, recordText(id));
        }
        EXPECT_EQ(oldFile, oldHeader(macFolder) + oldLines);
        EXPECT_EQ(readExisting(folder / ("rec/" + macFolder + "/new/CDR_2024_03_15.txt")),
                  newHeader(macFolder) + newLines);
        EXPECT_EQ(readExisting(folder / ("rec/" + macFolder + "/new/CDR_2024_03_15.csv")),
                  csvHeader(macFolder) + csvLines);
        EXPECT_EQ(newLog(folder), logLines + stopLine);
    }
}

TEST(Stop, HangUpDoesNotStopTheCollector) {
    if (underWine()) GTEST_SKIP() << "signals are Linux's";
    ProgramFolder folder;
    folder.start();
    const SwitchClient sw;
    folder.signal(SIGHUP);
    // Fails at once should the collector end.
    sw.send(recordText(1));
    EXPECT_EQ(sw.receive(), answerTo(encrypted, 1));
    folder.stop();
    EXPECT_EQ(newLog(folder), recvfrom(sw, recordText(1)) + stopLine);
}

TEST(Start, EverySettingIsShownInTheStartLineAndEveryWarningOnStandardError) {
    ProgramFolder folder;
    const TempFolder elsewhere;
    const std::string root = collectorPath(elsewhere.path() / "cdr");
    configure(folder, "ENCRYPT=0\r\nAREACODE=0755\r\nTYPE=IN\r\nPATH=" + root +
                          "\r\nALLOW=127.0.0.1\r\nALLOW=10.0.0.0/8, 192.168.1.7\r\nareacode=010\r\n");
    folder.start();
    folder.stop();
    const std::string warning =
        "WARNING   Quelvar.ini line 7: the key \"areacode\" is not written AREACODE (keys are in capitals): the "
        "line is ignored";
    // The type filter is taken with its line feed, and shown so.
    EXPECT_EQ(folder.standardError(), "quelvar 2.0.0.10 started: mode: plain, UDP port 1809; program folder: " +
                                          collectorPath(folder.path()) + "; data root: " + root +
                                          "; area code: 0755; type filter: IN\\n; senders: 127.0.0.1/32, "
                                          "10.0.0.0/8, 192.168.1.7/32; sync: on\n" +
                                          warning + "\n");
    EXPECT_EQ(folder.todaysLogTexts(), "Quelvar startup 2.0.0.10\r\nencrypt:0 areacode:0755 \r\n" +
                                           collectorPath(folder.path()) + "\r\n" + warning + "\r\n" +
                                           stopLineOfStop());
    EXPECT_TRUE(fs::is_directory(elsewhere.path() / "cdr"));
}

// Sets an environment variable for the collectors started meanwhile.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
    ~ScopedVariable() { unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
};

// systemd's side of NOTIFY_SOCKET: a datagram socket on a path, or on an
// abstract name when the name begins with '@'.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& name) : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') address.sun_path[0] = '\0';
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0)
            endTest("cannot listen on " + name + ": " + std::strerror(errno));
    }
    ~NotifySocket() { close(socket_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    std::optional<std::string> next(std::chrono::milliseconds limit) const {
        pollfd waiting{socket_, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
        char message[256];
        const ssize_t count = recv(socket_, message, sizeof message, 0);
        if (count < 0) return std::nullopt;
        return std::string(message, static_cast<std::size_t>(count));
    }

private:
    int socket_;
};

TEST(Start, ServiceManagerHearsReadyOnceThePortIsBound) {
    if (underWine()) GTEST_SKIP() << "systemd's notification socket is Linux's";
    const TempFolder sockets;
    const struct {
        const Mode& mode;
        std::string name;
    } cases[] = {
        {encrypted, sockets / "notify"},
        {plain, "@quelvar-notify-" + std::to_string(getpid())},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        const NotifySocket listener(each.name);
        const ScopedVariable variable("NOTIFY_SOCKET", each.name);
        {
            const PortHolder holder;
            ProgramFolder refused;
            configure(refused, each.mode.configuration);
            EXPECT_EQ(refused.runToExit(), 1);
            EXPECT_EQ(listener.next(std::chrono::milliseconds(0)), std::nullopt) << "ready without its port";
        }
        ProgramFolder folder;
        configure(folder, each.mode.configuration);
        folder.start();
        EXPECT_EQ(listener.next(std::chrono::seconds(10)), "READY=1");
    }
}

// What --check prints of the settings; the defaults unless told.
struct Shown {
    std::string mode = "encrypted";
    std::string dataRoot = "";  // empty: the program folder's rec
    std::string areaCode = "none";
    std::string typeFilter = "none";
    std::string senders = "every sender";
    std::string sync = "on";
};

std::string checkOutput(const ProgramFolder& folder, const std::string& fileNote, const Shown& shown,
                        const std::vector<std::string>& warnings) {
    std::string output = "quelvar 2.0.0.10\nQuelvar.ini: " + collectorPath(folder / "Quelvar.ini") + fileNote +
                         "\nmode: " + shown.mode + ", UDP port 1809\nprogram folder: " + collectorPath(folder.path()) +
                         "\ndata root: " + (shown.dataRoot.empty() ? collectorPath(folder / "rec") : shown.dataRoot) +
                         "\narea code: " + shown.areaCode + "\ntype filter: " + shown.typeFilter +
                         "\nsenders: " + shown.senders + "\nsync: " + shown.sync + "\n";
    for (const std::string& warning : warnings) output += "warning: " + warning + "\n";
    return output + (warnings.empty() ? "no warnings\n" : "");
}

std::string withRoot(std::string text, const std::string& root) {
    for (std::size_t found = text.find("%ROOT%"); found != std::string::npos; found = text.find("%ROOT%", found))
        text.replace(found, 6, root);
    return text;
}

TEST(Check, ShowsTheSettingsAsTakenAndEveryWarningAndWritesNothing) {
    // %ROOT% stands for a data root in the program folder, which must not be made.
    const std::string pieces = "; " + std::string(257, 'x');
    const struct {
        std::optional<std::string> configuration;
        Shown shown;
        std::vector<std::string> warnings;
    } cases[] = {
        {std::nullopt, {}, {}},
        {"; the switches of the east wing\r\n# kept by the night shift\r\n[Quelvar]\r\n\r\n   \r\nENCRYPT=1\r\n"
         "AREACODE = 0755\r\nTYPE=IN\r\nPATH=%ROOT%\r\nALLOW=127.0.0.1, 10.0.0.0/8\r\nALLOW=192.168.1.0/24",
         {"encrypted", "%ROOT%", "0755", "IN\\n", "127.0.0.1/32, 10.0.0.0/8, 192.168.1.0/24"},
         {}},
        {"[Quelvar]\r\nENCRYPT=1\r\nareacode=0755\r\n",
         {},
         {"Quelvar.ini line 3: the key \"areacode\" is not written AREACODE (keys are in capitals): the line is "
          "ignored"}},
        {"COLOR=red\r\nhello\r\n",
         {},
         {"Quelvar.ini line 1: the key \"COLOR\" is unknown (TYPE, PATH, ENCRYPT, AREACODE, ALLOW, SWITCHES, SYNC): "
          "the line is ignored",
          "Quelvar.ini line 2: the line is no setting and is ignored: \"hello\""}},
        {"TYPE=IN ;inbound only\r\n",
         {.typeFilter = "IN ;inbound only\\n"},
         {"Quelvar.ini line 1: TYPE has blanks or a comment in its value: taken \"IN ;inbound only\""}},
        {"AREACODE=0755 ;main\r\n",
         {.areaCode = "0755 ;ma"},
         {"Quelvar.ini line 1: AREACODE is longer than 8 characters: taken \"0755 ;ma\""}},
        {"PATH=%ROOT%  \r\n",
         {.dataRoot = "%ROOT%  "},
         {"Quelvar.ini line 1: PATH ends in blanks, which belong to the folder's name: taken \"%ROOT%  \""}},
        {"PATH=%ROOT% ;old\r\n",
         {.dataRoot = "%ROOT% ;old"},
         {"Quelvar.ini line 1: PATH has a ';' in it, which belongs to the folder's name: taken \"%ROOT% ;old\""}},
        {"AREACODE=07a5\r\n", {.areaCode = "07a5"}, {"Quelvar.ini line 1: AREACODE is not digits: taken \"07a5\""}},
        {"AREACODE=075512345\r\n",
         {.areaCode = "07551234"},
         {"Quelvar.ini line 1: AREACODE is longer than 8 characters: taken \"07551234\""}},
        {"ENCRYPT=yes\r\n",
         {},
         {"Quelvar.ini line 1: ENCRYPT=yes: only a 0 right after '=' selects the plain mode: the encrypted mode "
          "stays"}},
        {"ENCRYPT=0 ; plain\r\n",
         {.mode = "plain"},
         {"Quelvar.ini line 1: ENCRYPT=0 ; plain: only the 0 right after '=' counts: the plain mode is taken"}},
        {"TYPES=IN\r\n", {.typeFilter = "=IN\\n"}, {"Quelvar.ini line 1: \"TYPES\" is taken for the key TYPE"}},
        // The rest of a line past 259 bytes is read as a line of its own.
        {pieces + "ENCRYPT=0\r\n",
         {.mode = "plain"},
         {"Quelvar.ini line 1: the line is longer than 259 bytes and is read in pieces, each as a line of its own"}},
        {"ALLOW=127.0.0.1, switch-a\r\nALLOW=10.0.0.0/33\r\n",
         {.senders = "127.0.0.1/32"},
         {"Quelvar.ini line 1: ALLOW: \"switch-a\" is no IPv4 address or network: it is left out",
          "Quelvar.ini line 2: ALLOW: \"10.0.0.0/33\" is no IPv4 address or network: it is left out"}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.configuration.value_or("(no Quelvar.ini)"));
        ProgramFolder folder;
        const std::string root = collectorPath(folder / "cdr");
        if (each.configuration) folder.write("Quelvar.ini", withRoot(*each.configuration, root));
        const std::set<std::string> before = contentsOf(folder.path());
        const ProgramFolder::Output check = folder.run("--check");
        Shown shown = each.shown;
        shown.dataRoot = withRoot(shown.dataRoot, root);
        std::vector<std::string> warnings;
        for (const std::string& warning : each.warnings) warnings.push_back(withRoot(warning, root));
        EXPECT_EQ(check.output,
                  checkOutput(folder, each.configuration ? "" : " (none: the defaults)", shown, warnings));
        EXPECT_EQ(check.status, warnings.empty() ? 0 : 1);
        EXPECT_EQ(check.errors, "");
        EXPECT_EQ(contentsOf(folder.path()), before) << "--check makes nothing";
    }
}

TEST(Check, QuelvarIniThatCannotBeReadIsAWarningAndTheDefaultsAreShown) {
    ProgramFolder folder;
    fs::create_directory(folder / "Quelvar.ini");
    const std::set<std::string> before = contentsOf(folder.path());
    const ProgramFolder::Output check = folder.run("--check");
    EXPECT_EQ(check.status, 1);
    const std::string shown = checkOutput(folder, "", {}, {"Quelvar.ini: the file cannot be read ("});
    const std::string head = shown.substr(0, shown.size() - 1);
    ASSERT_TRUE(check.output.starts_with(head)) << check.output;
    const std::string tail = "): the defaults are taken\n";
    const std::size_t end = check.output.find(tail, head.size());
    ASSERT_NE(end, std::string::npos) << check.output;
    const std::string reason = check.output.substr(head.size(), end - head.size());
    // Windows words it in the system's language.
    if (underWine()) EXPECT_FALSE(reason.empty());
    else EXPECT_EQ(reason, std::strerror(EISDIR));
    EXPECT_EQ(check.output, head + reason + tail);
    EXPECT_EQ(check.errors, "");
    EXPECT_EQ(contentsOf(folder.path()), before);
}

TEST(Arguments, VersionAndHelpAreShownAndAnythingElseIsRefusedTouchingNothing) {
    ProgramFolder folder;
    const std::set<std::string> before = contentsOf(folder.path());
    const ProgramFolder::Output version = folder.run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "quelvar 2.0.0.10\n");
    EXPECT_EQ(version.errors, "");

    const ProgramFolder::Output help = folder.run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("usage: quelvar [--check | --version | --help")) << help.output;
    for (const char* option : {"\n  --check ", "\n  --version ", "\n  --help "})
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    EXPECT_EQ(help.errors, "");
    const std::string usage = help.output.substr(0, help.output.find('\n') + 1);

    for (const char* arguments : {"--frobnicate", "check", "-h", "''", "--check --version", "--version --version"}) {
        const ProgramFolder::Output refused = folder.run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_EQ(refused.output, "") << arguments;
        EXPECT_EQ(refused.errors, usage) << arguments;
    }
    EXPECT_EQ(contentsOf(folder.path()), before) << "nothing is made";
}

TEST(Allow, OnlyTheListedSendersAreFiledAndAnswered) {
    const std::string otherMac = "AA:BB:CC:DD:EE:01";
    const struct {
        const Mode& mode;
        std::string allow;
        bool otherAdmitted;
    } cases[] = {
        {encrypted, "ALLOW=127.0.0.1\r\n", false},
        {plain, "ALLOW=10.0.0.0/8\r\nALLOW=192.168.1.0/24, 127.0.0.1/32\r\n", false},
        // The lines add up.
        {encrypted, "ALLOW=127.0.0.1\r\nALLOW=127.0.0.0/30\r\n", true},
    };
    const int sentByOther = 12;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.allow);
        ProgramFolder folder;
        configure(folder, each.mode.configuration + each.allow);
        folder.start();
        const SwitchClient sw;
        const SwitchClient other(0, "127.0.0.2");
        std::string expected;
        for (long id = 101; id < 101 + sentByOther; ++id) {
            send(each.mode, other, recordText(id, otherMac));
            if (each.otherAdmitted) {
                EXPECT_EQ(nextAnswer(each.mode, other), answerTo(each.mode, id));
                expected += recvfrom(other, recordText(id, otherMac));
            } else if (id < 111) {
                expected += "WARNING   datagram from 127.0.0.2 refused\r\n";
            }
        }
        send(each.mode, sw, recordText(1));
        EXPECT_EQ(nextAnswer(each.mode, sw), answerTo(each.mode, 1));
        expected += recvfrom(sw, recordText(1));
        // Whatever was sent before it has been handled: an answer would be here.
        if (!each.otherAdmitted) {
            EXPECT_EQ(other.receiveRaw(std::chrono::milliseconds(5)), std::nullopt);
        }
        folder.stop();
        // Under Wine the collector is ended without an orderly stop, which
        // would tell the count of the minute.
        if (!underWine()) {
            if (!each.otherAdmitted)
                expected +=
                    "WARNING   " + std::to_string(sentByOther - 10) + " more datagrams from 127.0.0.2 refused\r\n";
            expected += stopLine;
        }
        EXPECT_EQ(newLog(folder), expected);
        // The old-format line is written before the answer.
        EXPECT_EQ(dataLines(folder / ("rec/" + macFolder), "old", ".txt"), 1);
        EXPECT_EQ(dataLines(folder / "rec/AA-BB-CC-DD-EE-01", "old", ".txt"), each.otherAdmitted ? sentByOther : 0);
    }
}

}  // namespace
