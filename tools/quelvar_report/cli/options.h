#pragma once
// The command line of quelvar-report: every command and its options, from
// which both the parsing and the help are made.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "quelvar_report/output/output.h"

namespace quelvar::report {

enum class Command { index, calls, summary, status, bill, explain, alerts, watch };

struct Options {
    Command command = Command::calls;
    std::string database;  // the index
    std::vector<std::string> roots;
    bool rebuild = false;  // index: make it anew
    Format format = Format::table;
    // The period, both days counted, and the filters of the calls.
    std::optional<std::string> from, to, switchName, extension, number, category;
    std::optional<std::string> month;  // YYYY-MM or "last"
    std::string by;
    std::string sort = "cost";  // bill: how its groups are ordered
    int days = 7;
    // bill and explain
    std::string tariffs, directory;
    bool directoryGiven = false;
    std::string callId;
    std::optional<std::string> output;
    std::time_t now = 0;  // the time the answer is for
    Lang lang = Lang::zh;        // the headings' language
    bool gb18030 = false;        // CSV in GB18030, without a byte-order mark
    bool unratedList = false;    // bill --unrated: the unrated calls, one by one
    bool perDepartment = false;  // bill --per-department: a workbook sheet per department
    bool appendix = false;       // bill --format html: the long lists too
    // alerts and watch
    std::string rules;           // the rules file; '' for alerts.csv beside the program
    std::optional<std::string> at;  // alerts --at: the moment, YYYY-MM-DDTHH:MM:SS
    bool again = false;          // alerts --again: the open ones too
    bool dryRun = false;         // alerts --dry-run: print only
    std::string sendmail = "/usr/sbin/sendmail";
    int every = 30;              // watch: seconds between runs
    bool tariffsGiven = false;
};

// Reads the arguments after the command's name into `options`, whose
// defaults (the files beside the program, the time) are set already. An
// empty text when they are good, else what is wrong, in one line. The period
// ends up in from and to (a month turned into its days), the switch as its
// folder is named, {month}, {from} and {to} of --output filled in.
std::string parseOptions(const std::string& command, const std::vector<std::string>& arguments, Options& options);

// What `quelvar-report --help` prints, and `help COMMAND` (nothing for a
// command there is not).
std::string overallHelp();
std::optional<std::string> commandHelp(const std::string& command);
// A line or two for a command line that names no command.
std::string usageLines();

}  // namespace quelvar::report
