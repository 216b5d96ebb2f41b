// calls and summary on a small index: two switches and the workbook, calls of
// several legs, an err record, a repeat and a line that could not be read.
#include <algorithm>
#include <set>

#include "tools/quelvar_report/index_fixture.h"

namespace {

using quelvar::test::Json;

const std::string switchA = "00-1A-2B-3C-4D-5E";
const std::string switchB = "00-1A-2B-3C-4D-5F";

class CallsAndSummary : public IndexFixture {
protected:
    void SetUp() override {
        IndexFixture::SetUp();
        insert({
            // Two legs of 75 and 20 seconds: the call counts 95, its first leg alone 75.
            {switchA, "77", "8001", "8001", "075512345678", "市话", "2026-12-03T09:30:00", 95, 2},
            {switchA, "78", "8001", "8002", "13912345678", "国内长途", "2026-12-04T10:00:00", 60},
            {switchA, "78", "8001", "8002", "13912345678", "国内长途", "2026-12-04T10:00:00", 60, 1,
             quelvar::report::repeatFiled},
            {switchA, "", "", "", "", "", "", 0, 0, quelvar::report::unparsable, "2026-12-04"},
            // Filed under err (no ROUTE): still a call.
            {switchA, "E1", "8003", "8003", "13800000000", "国内长途", "2026-12-04T11:00:00", 40, 1,
             quelvar::report::fromErrTree, "", "?"},
            // Three legs of 10, 20 and 30 seconds, the last second of a day.
            {switchB, "90", "8101", "8101", "0014155550100", "国际长途", "2026-12-05T23:59:59", 60, 3},
            {switchB, "91", "8102", "8102", "8001", "内线", "2026-12-06T00:00:00", 15},
            // A workbook row: no switch.
            {"", "W1", "6001", "6001", "075512345678", "市话", "2026-12-05T08:00:00", 125},
            // Outside December.
            {switchB, "92", "8101", "8101", "075599999999", "市话", "2026-11-30T12:00:00", 500},
        });
    }

    std::vector<std::string> ids(const std::vector<std::string>& filters) {
        const Json answer = json("calls", filters);
        std::vector<std::string> found;
        for (const Json& call : answer["calls"].items) found.push_back(call["id"].string);
        return found;
    }
};

TEST_F(CallsAndSummary, FiltersSelectExactlyTheCallsTheyName) {
    struct Case {
        std::vector<std::string> filters;
        std::vector<std::string> ids;  // in the order of their start
    };
    const std::vector<Case> cases = {
        {{}, {"92", "77", "78", "E1", "W1", "90", "91"}},
        // Both ends of the days given count, the next day's first second does not.
        {{"--from", "2026-12-05", "--to", "2026-12-05"}, {"W1", "90"}},
        {{"--from", "2026-12-06"}, {"91"}},
        {{"--to", "2026-11-30"}, {"92"}},
        // A switch as the switch spells its MAC, in any case.
        {{"--switch", "00:1a:2b:3c:4d:5f"}, {"92", "90", "91"}},
        {{"--switch", switchA}, {"77", "78", "E1"}},
        // The caller or the account, exactly: 91 calls 8001 but is not from it.
        {{"--ext", "8001"}, {"77", "78"}},
        {{"--ext", "8002"}, {"78"}},
        {{"--ext", "800"}, {}},
        {{"--number", "0755"}, {"92", "77", "W1"}},
        {{"--number", "075512345678"}, {"77", "W1"}},
        {{"--category", "国内长途"}, {"78", "E1"}},
        {{"--category", "长途"}, {}},
        {{"--switch", switchA, "--number", "139", "--from", "2026-12-01"}, {"78"}},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& filter : c.filters) shown += filter + " ";
        EXPECT_EQ(ids(c.filters), c.ids) << shown;
    }
}

TEST_F(CallsAndSummary, CallsInJsonCarryEveryFieldOfTheCall) {
    const Json answer = json("calls", {"--ext", "8001", "--number", "0755"});
    ASSERT_EQ(answer.keys(), std::vector<std::string>{"calls"});
    ASSERT_EQ(answer["calls"].size(), 1u);
    const Json& call = answer["calls"][0];
    EXPECT_EQ(call.keys(), (std::vector<std::string>{"switch", "id", "account", "caller", "callee", "category", "route",
                                                     "start", "seconds", "legs"}));
    EXPECT_EQ(call["switch"].string, switchA);
    EXPECT_EQ(call["callee"].string, "075512345678");
    EXPECT_EQ(call["category"].string, "市话");
    EXPECT_EQ(call["start"].string, "2026-12-03T09:30:00");
    EXPECT_EQ(call["seconds"].integer(), 95);
    EXPECT_EQ(call["legs"].integer(), 2);
    EXPECT_EQ(call["callee"].type, Json::Type::string) << "a number with a leading zero stays text";
}

TEST_F(CallsAndSummary, SummaryByCategoryCountsEveryLegAndNoRepeat) {
    const Json answer = json("summary", {"--from", "2026-12-01", "--to", "2026-12-31"});
    EXPECT_EQ(answer["from"].string, "2026-12-01");
    EXPECT_EQ(answer["to"].string, "2026-12-31");
    EXPECT_EQ(answer["by"].string, "category");
    struct Expected {
        std::string group;
        long long calls, seconds;
        double average;
        long long longest;
    };
    std::vector<Expected> expected = {
        {"内线", 1, 15, 15, 15},
        {"国内长途", 2, 100, 50, 60},  // the repeat of 78 not counted, the err record counted
        {"国际长途", 1, 60, 60, 60},   // three legs
        {"市话", 2, 220, 110, 125},    // 95 for the call of two legs
    };
    ASSERT_EQ(answer["groups"].size(), expected.size());
    for (const Expected& group : expected) {
        const auto found = std::find_if(answer["groups"].items.begin(), answer["groups"].items.end(),
                                        [&](const Json& g) { return g["group"].string == group.group; });
        ASSERT_NE(found, answer["groups"].items.end()) << group.group;
        EXPECT_EQ((*found)["calls"].integer(), group.calls) << group.group;
        EXPECT_EQ((*found)["seconds"].integer(), group.seconds) << group.group;
        EXPECT_DOUBLE_EQ((*found)["average_seconds"].number, group.average) << group.group;
        EXPECT_EQ((*found)["longest_seconds"].integer(), group.longest) << group.group;
    }
    EXPECT_EQ(answer["total"]["calls"].integer(), 6);
    EXPECT_EQ(answer["total"]["seconds"].integer(), 395);
}

TEST_F(CallsAndSummary, SummaryGroupsByEachKey) {
    struct Case {
        std::string by;
        std::vector<std::pair<std::string, long long>> groups;  // name and seconds, in the order given
    };
    const std::vector<Case> cases = {
        {"switch", {{"", 125}, {switchA, 195}, {switchB, 75}}},
        {"ext", {{"6001", 125}, {"8001", 95}, {"8002", 60}, {"8003", 40}, {"8101", 60}, {"8102", 15}}},
        {"account", {{"6001", 125}, {"8001", 155}, {"8003", 40}, {"8101", 60}, {"8102", 15}}},
        {"day", {{"2026-12-03", 95}, {"2026-12-04", 100}, {"2026-12-05", 185}, {"2026-12-06", 15}}},
        {"hour", {{"00", 15}, {"08", 125}, {"09", 95}, {"10", 60}, {"11", 40}, {"23", 60}}},
        // Most calls first, then most seconds.
        {"destination",
         {{"075512345678", 220}, {"0014155550100", 60}, {"13912345678", 60}, {"13800000000", 40}, {"8001", 15}}},
    };
    for (const Case& c : cases) {
        const Json answer = json("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", c.by});
        EXPECT_EQ(answer["by"].string, c.by);
        std::vector<std::pair<std::string, long long>> found;
        for (const Json& group : answer["groups"].items) found.emplace_back(group["group"].string, group["seconds"].integer());
        EXPECT_EQ(found, c.groups) << "--by " << c.by;
        EXPECT_EQ(answer["total"]["seconds"].integer(), 395) << "--by " << c.by;
    }
}

TEST_F(CallsAndSummary, SummaryByTrunkAndRouteWithAndWithoutTheDailyFigures) {
    insert({{switchB, "93", "8102", "8102", "075512345678", "市话", "2026-12-07T10:00:00", 30, 1, 0, "", "PS", "OU", "7"},
            {switchB, "94", "8101", "8101", "13912345678", "国内长途", "2026-12-07T11:00:00", 50, 1, 0, "", "IP",
             "OU", "7"}});
    struct Case {
        std::string by;
        std::vector<std::string> filters;  // --number needs single calls, the others not
        std::vector<std::pair<std::string, long long>> groups;
    };
    const std::vector<Case> cases = {
        {"trunk", {}, {{"3", 395}, {"7", 80}}},
        {"trunk", {"--number", "0"}, {{"3", 280}, {"7", 30}}},
        {"route", {}, {{"?", 40}, {"IP", 405}, {"PS", 30}}},
        {"route", {"--switch", switchB}, {{"IP", 125}, {"PS", 30}}},
        {"route", {"--switch", switchB, "--number", "1"}, {{"IP", 50}}},
        {"trunk", {"--category", "市话", "--ext", "8102"}, {{"7", 30}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"--from", "2026-12-01", "--to", "2026-12-31", "--by", c.by};
        arguments.insert(arguments.end(), c.filters.begin(), c.filters.end());
        const Json answer = json("summary", arguments);
        std::vector<std::pair<std::string, long long>> found;
        for (const Json& group : answer["groups"].items) found.emplace_back(group["group"].string, group["seconds"].integer());
        EXPECT_EQ(found, c.groups) << "--by " << c.by << " " << testing::PrintToString(c.filters);
    }
}

TEST_F(CallsAndSummary, TopDestinationsByCallsThenSeconds) {
    const Json answer = json("summary", {"--from", "2026-11-01", "--to", "2026-12-31", "--by", "switch"});
    std::vector<std::tuple<std::string, long long, long long>> found;
    for (const Json& top : answer["top_destinations"].items) {
        EXPECT_EQ(top.keys(), (std::vector<std::string>{"number", "calls", "seconds"}));
        found.emplace_back(top["number"].string, top["calls"].integer(), top["seconds"].integer());
    }
    const std::vector<std::tuple<std::string, long long, long long>> expected = {
        {"075512345678", 2, 220}, {"075599999999", 1, 500}, {"0014155550100", 1, 60},
        {"13912345678", 1, 60},   {"13800000000", 1, 40},   {"8001", 1, 15},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(CallsAndSummary, TopDestinationsStopAtTwenty) {
    std::vector<Row> many;
    for (int i = 0; i < 25; ++i)
        many.push_back({switchA, "T" + std::to_string(i), "8001", "8001", "02" + std::to_string(100 + i), "市话",
                        "2026-10-01T12:00:00", 10 + i});
    insert(many);
    const Json answer = json("summary", {"--from", "2026-10-01", "--to", "2026-10-01"});
    ASSERT_EQ(answer["top_destinations"].size(), 20u);
    EXPECT_EQ(answer["top_destinations"][0]["number"].string, "02124") << "the longest of equal counts first";
    EXPECT_EQ(answer["top_destinations"][19]["number"].string, "02105");
    EXPECT_EQ(answer["total"]["calls"].integer(), 25) << "the total is not cut to the top";
}

TEST_F(CallsAndSummary, SummaryTableAndCsvShowTheSameNumbers) {
    const Answer table = run("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--lang", "en"});
    ASSERT_EQ(table.status, 0) << table.error;
    EXPECT_NE(table.out.find("(total)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("市话          2      3.7      220              110              125"), std::string::npos)
        << table.out;

    const Answer csv = run("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--format", "csv", "--lang", "en"});
    ASSERT_EQ(csv.status, 0) << csv.error;
    EXPECT_EQ(csv.out.rfind("\xEF\xBB\xBF" "category,calls,minutes,seconds,average seconds,longest seconds\r\n", 0), 0u)
        << csv.out;
    EXPECT_NE(csv.out.find("\r\n市话,2,3.7,220,110,125\r\n"), std::string::npos) << csv.out;
    // One table a file: the total is its last row.
    EXPECT_TRUE(csv.out.ends_with("\r\n(total),6,6.6,395,65.8,125\r\n")) << csv.out;
    // The top numbers are their own summary; numbers with a leading zero stay text for Excel.
    const Answer top = run("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "destination", "--format", "csv"});
    ASSERT_EQ(top.status, 0) << top.error;
    EXPECT_TRUE(top.out.starts_with("\xEF\xBB\xBF" "被叫号码,通话次数,时长(分),时长(秒),平均时长(秒),最长(秒)\r\n")) << top.out;
    EXPECT_NE(top.out.find("\r\n\"=\"\"075512345678\"\"\",2,3.7,220,"), std::string::npos) << top.out;
    EXPECT_TRUE(top.out.ends_with("\r\n合计,6,6.6,395,65.8,125\r\n")) << top.out;

    // Chinese unless told: the terminal's headings and its count of calls.
    const Answer calls = run("calls", {"--from", "2026-12-01", "--to", "2026-12-31"});
    ASSERT_EQ(calls.status, 0) << calls.error;
    EXPECT_TRUE(calls.out.starts_with("交换机")) << calls.out;
    EXPECT_NE(calls.out.find("开始时间"), std::string::npos) << calls.out;
    EXPECT_NE(calls.out.find("\n共 "), std::string::npos) << calls.out;
}

TEST_F(CallsAndSummary, TextThatNeedsEscapingComesBackWhole) {
    insert({{switchA, "Q1", "8001", "8001", "12345", "特服\"电话\"\\\n\x01", "2026-09-01T08:00:00", 5, 1, 0, "",
             "a,b"}});
    const Json answer = json("calls", {"--from", "2026-09-01", "--to", "2026-09-01"});
    ASSERT_EQ(answer["calls"].size(), 1u);
    EXPECT_EQ(answer["calls"][0]["category"].string, "特服\"电话\"\\\n\x01");

    const Answer csv = run("calls", {"--from", "2026-09-01", "--to", "2026-09-01", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.error;
    EXPECT_NE(csv.out.find(",\"特服\"\"电话\"\"\\\n\x01\",\"a,b\",2026-09-01T08:00:00,5,1\r\n"), std::string::npos)
        << csv.out;

    const Answer table = run("calls", {"--from", "2026-09-01", "--to", "2026-09-01"});
    ASSERT_EQ(table.status, 0);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 4) << "a control character never breaks a row:\n"
                                                                        << table.out;
}

}  // namespace
