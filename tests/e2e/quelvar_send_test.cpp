// quelvar-send against the real collector.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>

#include "e2e/harness.h"
#include "e2e/switch_client.h"

namespace {

namespace fs = std::filesystem;

using Outcome = CommandOutcome;

// The program under test: under Wine the Windows one.
std::string sendProgram() {
    return underWine() ? "wine '" + (windowsBuild() / "quelvar-send.exe").string() + "'" : std::string(QUELVAR_SEND);
}

// Runs quelvar-send with the arguments (already quoted for the shell). It
// waits a short time for each answer unless the arguments say how long.
Outcome send(const std::string& arguments, const std::string& input = {}) {
    const std::string program = sendProgram();
    const bool timed = arguments.find("--timeout") != std::string::npos;
    std::string command = program + (timed ? " " : " --timeout 1000 ") + arguments;
    if (!input.empty()) command = "printf '" + input + "' | " + command;
    return runCommand(command, std::chrono::seconds(30));
}

// Data lines of every file with the extension under the folder, headers
// (the lines that begin with '#' or a blank) left out.
long dataLines(const fs::path& root, const std::string& extension, const std::string& subFolder) {
    long lines = 0;
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

TEST(QuelvarSend, RecordsAreAcknowledgedInEitherMode) {
    ProgramFolder folder;
    folder.start();
    Outcome outcome = send("'RECORD:ID=41&RID=77-1&MAC=00:11:22:33:44:55&TIME-S=240315093000&DURATION=75&'");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:ID=41 ("), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 1, acknowledged 1, lost 0"), std::string::npos) << outcome.output;

    // The legs of a call from standard input, one datagram.
    outcome = send("--file -", "RECORD:ID=8&RID=5-1&MAC=AA&\\nRECORD:ID=9&RID=5-2&MAC=AA&\\n\\nhello\\n");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:ID=9 ("), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 2, acknowledged 1, lost 0"), std::string::npos) << outcome.output;
    EXPECT_NE(folder.todaysLog().find("recvfrom 127.0.0.1"), std::string::npos);

    ProgramFolder plainFolder("plain");
    folder.stop();
    plainFolder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    plainFolder.start();
    outcome = send("--plain 'RECORD:RID=5-1&MAC=00:11:22:33:44:55&'");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:RID=5-1 ("), std::string::npos) << outcome.output;
}

TEST(QuelvarSend, GeneratedCallsAreAllFiled) {
    // The merged record is filed after the answer: the collector is stopped
    // only once it has handled the last call.
    const SwitchClient sw;
    ProgramFolder folder;
    folder.start();
    const Outcome outcome = send("--generate 300 --quiet");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 300, acknowledged 300, lost 0"), std::string::npos) << outcome.output;
    waitUntilHandled(folder, sw);
    folder.stop();
    EXPECT_EQ(dataLines(folder / "rec", ".txt", "new"), 300) << "one merged record a call";
    EXPECT_EQ(dataLines(folder / "rec", ".csv", "new"), 300);
    EXPECT_GE(dataLines(folder / "rec", ".txt", "old"), 300) << "every leg";

    ProgramFolder plainFolder("plain");
    plainFolder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    plainFolder.start();
    const Outcome plain = send("--plain --generate 200 --quiet --rate 5000");
    EXPECT_EQ(plain.status, 0) << plain.output;
    waitUntilHandled(plainFolder, sw, true);
    plainFolder.stop();
    for (const char* sub : {"new", "old"}) EXPECT_EQ(dataLines(plainFolder / "rec", ".txt", sub), 200) << sub;
    EXPECT_EQ(dataLines(plainFolder / "rec", ".csv", "new"), 200);
}

// A generated call as saved: its legs' fields.
struct SavedLeg {
    std::string rid, type, cpn, cdpn;
    std::chrono::sys_seconds start;
    long long seconds = 0;
};

std::string fieldOf(const std::string& record, const std::string& name) {
    const std::size_t at = record.find("&" + name + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + name.size() + 2;
    return record.substr(from, record.find('&', from) - from);
}

std::vector<std::vector<SavedLeg>> savedCalls(const std::string& text) {
    using namespace std::chrono;
    std::vector<std::vector<SavedLeg>> calls(1);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            if (!calls.back().empty()) calls.emplace_back();
            continue;
        }
        const std::string t = fieldOf(line, "TIME-S");
        const auto number = [&](std::size_t at) { return std::stoi(t.substr(at, 2)); };
        EXPECT_EQ(t.size(), 12u) << line;
        if (t.size() != 12) continue;
        const sys_days day = year(2000 + number(0)) / number(2) / number(4);
        calls.back().push_back(
            {fieldOf(line, "RID"), fieldOf(line, "TYPE"), fieldOf(line, "CPN"), fieldOf(line, "CDPN"),
             day + hours(number(6)) + minutes(number(8)) + seconds(number(10)), std::stoll(fieldOf(line, "DURATION"))});
    }
    if (calls.back().empty()) calls.pop_back();
    return calls;
}

TEST(QuelvarSend, AGeneratedMonthLooksLikeOne) {
    using namespace std::chrono;
    ProgramFolder folder;
    // Thousands of calls one after another: the month's shape is looked
    // at here, not the disk's sync time.
    folder.write("Quelvar.ini", "SYNC=0\r\n");
    folder.start();
    // The same seed and month by the program under test and by the Linux
    // one: under Wine that compares Windows with Linux.
    const auto generate = [&](const std::string& program, const std::string& seed, const std::string& name) {
        const Outcome outcome =
            runCommand("cd '" + folder.path().string() + "' && " + program +
                           " --timeout 5000 --generate 6000 --month 2026-11 --quiet --seed " + seed + " --save " + name,
                       seconds(240));
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        return readExisting(folder / name);
    };
    const std::string month = generate(sendProgram(), "1809", "a.txt");
    EXPECT_EQ(generate(QUELVAR_SEND, "1809", "b.txt"), month) << "the same seed, the same bytes";
    EXPECT_NE(generate(QUELVAR_SEND, "1810", "c.txt"), month);
    folder.stop();

    const auto calls = savedCalls(month);
    ASSERT_EQ(calls.size(), 6000u);
    std::vector<long long> durations;
    std::map<std::string, double> types;
    double weekdays = 0, weekends = 0, office = 0, night = 0, abroad = 0, premium = 0, emergency = 0, severalLegs = 0,
           legsFollow = 0;
    for (const auto& legs : calls) {
        long long total = 0;
        bool follow = legs.size() <= 3;
        const std::string key = legs[0].rid.substr(0, legs[0].rid.find('-'));
        for (std::size_t leg = 0; leg < legs.size(); ++leg) {
            total += legs[leg].seconds;
            follow = follow && legs[leg].rid == key + "-" + std::to_string(leg + 1) && legs[leg].seconds > 0 &&
                     (leg == 0 || legs[leg].start == legs[leg - 1].start + seconds(legs[leg - 1].seconds));
        }
        durations.push_back(total);
        const SavedLeg& first = legs[0];
        const sys_days day = floor<days>(first.start);
        const year_month_day date(day);
        EXPECT_EQ(date.year() / date.month(), year(2026) / November) << first.rid;
        const auto hour = duration_cast<hours>(first.start - day).count();
        const bool weekend = weekday(day).iso_encoding() >= 6;
        (weekend ? weekends : weekdays) += 1;
        office += !weekend && hour >= 8 && hour < 18;
        night += hour >= 22 || hour < 7;
        types[first.type] += 1;
        const std::string& outside = first.type == "IN" || first.type == "FI" ? first.cpn : first.cdpn;
        abroad += outside.starts_with("00");
        premium += outside.size() == 8 && (outside.starts_with("160") || outside.starts_with("168"));
        emergency += outside == "110" || outside == "119" || outside == "120" || outside == "122";
        severalLegs += legs.size() > 1;
        legsFollow += follow;
    }
    std::sort(durations.begin(), durations.end());
    const double all = static_cast<double>(calls.size());
    const auto shareOf = [&](auto test) {
        return static_cast<double>(std::count_if(durations.begin(), durations.end(), test)) / all;
    };
    // November 2026: 21 weekdays, 9 days of weekend.
    const struct {
        const char* property;
        double value, low, high;
    } shape[] = {
        {"median seconds", static_cast<double>(durations[durations.size() / 2]), 60, 90},
        {"share under 3 minutes", shareOf([](long long s) { return s < 180; }), 0.70, 0.85},
        {"share over 30 minutes", shareOf([](long long s) { return s > 1800; }), 0.003, 0.03},
        {"share over 2 hours", shareOf([](long long s) { return s > 7200; }), 0, 0.003},
        {"longest seconds", static_cast<double>(durations.back()), 3600, 12600},
        {"a weekday's calls to a weekend day's", (weekdays / 21) / (weekends / 9), 4, 12},
        {"share weekdays 08-18", office / all, 0.70, 0.90},
        {"share at night 22-07", night / all, 0.005, 0.05},
        {"share LO", types["LO"] / all, 0.26, 0.34},
        {"share OU", types["OU"] / all, 0.35, 0.44},
        {"share IN", types["IN"] / all, 0.22, 0.30},
        {"share FW", types["FW"] / all, 0.02, 0.05},
        {"share FI", types["FI"] / all, 0.005, 0.025},
        {"share abroad", abroad / all, 0.005, 0.02},
        {"share premium rate", premium / all, 0.001, 0.006},
        {"emergency calls", emergency, 0, 10},
        {"share of several legs", severalLegs / all, 0.03, 0.07},
        {"share with legs that follow each other", legsFollow / all, 1, 1},
    };
    for (const auto& each : shape) {
        EXPECT_GE(each.value, each.low) << each.property;
        EXPECT_LE(each.value, each.high) << each.property;
    }
}

TEST(QuelvarSend, ReportsLossAndBadArguments) {
    const Outcome nobody = send("--port 1810 --timeout 200 'RECORD:ID=1&RID=1-1&MAC=AA&'");
    EXPECT_EQ(nobody.status, 1);
    EXPECT_NE(nobody.output.find("lost    RECORD:ID=1&RID=1-1&MAC=AA&"), std::string::npos) << nobody.output;
    EXPECT_NE(nobody.output.find("sent 1, acknowledged 0, lost 1"), std::string::npos) << nobody.output;

    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--port 70000", "quelvar-send: --port must be a number from 1 to 65535, not \"70000\" (see --help)\n"},
        {"--timeout", "quelvar-send: --timeout needs a value (see --help)\n"},
        {"--bogus", "quelvar-send: unknown option --bogus (see --help)\n"},
        {"--generate 5 x",
         "quelvar-send: give records on the command line, --file or --generate, not several of "
         "them (see --help)\n"},
        {"--host no-such-host.invalid x", "quelvar-send: cannot resolve host no-such-host.invalid\n"},
        {"--file /nonexistent", "quelvar-send: cannot read /nonexistent\n"},
    };
    for (const auto& each : cases) {
        const Outcome outcome = send(each.arguments);
        EXPECT_EQ(outcome.status, 2) << each.arguments;
        std::string message = each.message;
        // A Windows console program ends its lines as Windows does.
        if (underWine()) message.insert(message.size() - 1, "\r");
        EXPECT_EQ(outcome.output, message);
    }
    const Outcome help = send("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--generate N"), std::string::npos);
}

}  // namespace
