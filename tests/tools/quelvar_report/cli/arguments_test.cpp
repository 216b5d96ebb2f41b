// What quelvar-report refuses: exit status 2 and one line saying why.
#include <filesystem>

#include "tools/quelvar_report/index_fixture.h"

namespace {

class Arguments : public IndexFixture {};

TEST_F(Arguments, BadArgumentsAreRefusedWithOneLine) {
    struct Case {
        std::string command;
        std::vector<std::string> arguments;
        std::string says;  // part of the error
    };
    const std::vector<Case> cases = {
        {"calls", {"--bogus"}, "unknown option --bogus"},
        {"calls", {"--from"}, "--from: a value is missing before --db"},
        {"calls", {"--from", "--to", "2026-12-01"}, "--from: a value is missing before --to"},
        {"calls", {"--from", "2026-13-01"}, "bad date 2026-13-01"},
        {"calls", {"--from", "2026-02-29"}, "bad date 2026-02-29"},
        {"calls", {"--to", "26-12-01"}, "bad date 26-12-01"},
        {"calls", {"--to", "2026-12-1x"}, "bad date"},
        {"calls", {"--from", "2026-12-05", "--to", "2026-12-04"}, "is after --to"},
        {"calls", {"--format", "xml"}, "--format: xml is none of table, csv, json"},
        {"explain", {"1", "--format", "csv"}, "--format: csv is none of table, json"},
        {"calls", {"2026-12-01"}, "unexpected argument 2026-12-01"},
        {"calls", {"--db"}, "--db: a value is missing before --db"},
        {"calls", {"--by", "switch"}, "unknown option --by"},
        {"summary", {"--from", "2026-12-01"}, "summary needs --from and --to, or --month"},
        {"summary", {"--month", "2026-13"}, "bad --month 2026-13"},
        {"calls", {"--month", "2026-11", "--from", "2026-11-02"}, "name the period twice"},
        {"summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "week"}, "--by: week is none of"},
        {"status", {"--days", "0"}, "--days"},
        {"status", {"--days", "seven"}, "--days"},
        {"status", {"--from", "2026-12-01"}, "unknown option --from"},
        {"status", {"--root", (folder / "missing")}, "missing"},
        {"report", {}, "unknown command: report"},
    };
    for (const Case& c : cases) {
        const Answer answer = run(c.command, c.arguments);
        EXPECT_EQ(answer.status, 2) << c.command << " " << c.says;
        EXPECT_NE(answer.error.find(c.says), std::string::npos) << answer.error;
        EXPECT_EQ(answer.error.find('\n'), std::string::npos) << answer.error;
        EXPECT_TRUE(answer.out.empty()) << answer.out;
    }
    // A leap day is a date.
    EXPECT_EQ(run("calls", {"--from", "2028-02-29"}).status, 0);
    // Every command over a period takes a month.
    for (const std::string command : {"calls", "summary", "bill", "explain"}) {
        const Answer answer = run(command, {"--month", "2026-11"});
        EXPECT_EQ(answer.error.find("--month"), std::string::npos) << command << ": " << answer.error;
    }
}

TEST_F(Arguments, AMissingIndexIsNeverMadeByAQuery) {
    const std::string missing = folder / "none.db";
    const std::vector<std::pair<std::string, std::vector<std::string>>> queries = {
        {"calls", {"--db", missing}},
        {"summary", {"--db", missing, "--from", "2026-12-01", "--to", "2026-12-02"}},
        {"status", {"--db", missing}},
    };
    for (const auto& [command, arguments] : queries) {
        std::string out, error;
        EXPECT_EQ(quelvar::report::runQuery(command, arguments, folder.path().string(), now, out, error), 2) << command;
        EXPECT_NE(error.find("run `quelvar-report index` first"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(missing)) << command;
    }
}

TEST_F(Arguments, AFileThatIsNoIndexIsRefused) {
    const std::string notAnIndex = folder / "notes.db";
    writeBytes(notAnIndex, "these are not the calls you are looking for\n");
    std::string out, error;
    EXPECT_EQ(quelvar::report::runQuery("calls", {"--db", notAnIndex}, folder.path().string(), now, out, error), 2);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readBytes(notAnIndex), "these are not the calls you are looking for\n");
}

}  // namespace
