// quelvar-report tells what it does: --help, help COMMAND, COMMAND --help.
#include <gtest/gtest.h>

#include <string>

#include "e2e/harness.h"

namespace {

#ifdef QUELVAR_REPORT
CommandOutcome report(const std::string& arguments, bool errorsToo) {
    return runCommand(std::string("'") + QUELVAR_REPORT + "' " + arguments + (errorsToo ? " 2>&1" : " 2>/dev/null"),
                      std::chrono::seconds(30));
}
#endif

TEST(ReportHelp, EveryCommandIsListedAndExplained) {
#ifndef QUELVAR_REPORT
    GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
#else
    if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux program";
    const CommandOutcome overall = report("--help", false);
    EXPECT_EQ(overall.status, 0);
    EXPECT_EQ(report("help", false).output, overall.output);
    for (const std::string command : {"index", "calls", "summary", "status", "bill", "explain"}) {
        EXPECT_NE(overall.output.find("\n  " + command + " "), std::string::npos) << command << ":\n" << overall.output;
        const CommandOutcome one = report("help " + command, false);
        EXPECT_EQ(one.status, 0) << command;
        EXPECT_NE(one.output.find("Usage: quelvar-report " + command + " [OPTIONS]"), std::string::npos) << one.output;
        EXPECT_EQ(report(command + " --help", false).output, one.output) << command;
        // Every command that takes a period takes it the same two ways.
        if (command != "index" && command != "status") {
            for (const std::string option : {"--month YYYY-MM|last", "--from DATE", "--to DATE", "--switch MAC"})
                EXPECT_NE(one.output.find(option), std::string::npos) << one.output;
        }
    }
    for (const std::string wrong : {"help nothing", "nothing", "nothing --db x.db"}) {
        const CommandOutcome refused = report(wrong, true);
        EXPECT_EQ(refused.status, 2) << wrong;
        EXPECT_NE(refused.output.find("unknown command: nothing"), std::string::npos) << refused.output;
        EXPECT_EQ(refused.output.find('\n'), refused.output.size() - 1) << refused.output;
    }
#endif
}

}  // namespace
