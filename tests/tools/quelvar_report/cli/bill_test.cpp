// bill and explain on a small index: groups that add up, the directory's
// people and moves, and the explanation of one call.
#include <fstream>
#include <map>

#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/figures.h"
#include "tools/quelvar_report/index_fixture.h"

namespace {

using quelvar::test::Json;

const std::string switchA = "00-1A-2B-3C-4D-5E";
const std::string switchB = "00-1A-2B-3C-4D-5F";

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class Bill : public IndexFixture {
protected:
    void SetUp() override {
        IndexFixture::SetUp();
        writeFile(folder / "tariffs.csv",
                  "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
                  "2026-01-01,内线,,0,,60,0\n"
                  "2026-01-01,市话,,180,0.22,60,0.11\n"
                  "2026-01-01,国内长途,,0,,6,0.07\n"
                  "2026-01-01,国内长途,23:00-07:00,0,,6,0.035\n"
                  "2026-01-01,国际长途,,6,0.801,6,0.801\n"
                  "2026-12-05,市话,,180,0.2,60,0.1\n"
                  "2026-12-05,国内长途,,0,,6,0.06\n"
                  "2026-12-05,国际长途,,6,0.8,6,0.8\n"
                  "2026-12-05,内线,,0,,60,0\n");
        // 8001 moves from 财务部 to 销售部 on 2026-12-04; on switch B 8001 is someone else.
        writeFile(folder / "directory.csv",
                  "\xEF\xBB\xBF"
                  "switch,number,name,department,valid_from\r\n"
                  "*,8001,张伟,财务部,\r\n"
                  "*,8001,张伟,销售部,2026-12-04\r\n"
                  "00:1a:2b:3c:4d:5f,8001,李娜,技术部,\r\n"
                  "*,8002,王芳,销售部,\r\n"
                  "*,9001,\"Smith, J.\",,\r\n");
        insert({
            // 95 s of two legs: one call of 市话, 0.22.
            {switchA, "77", "", "8001", "075512345678", "市话", "2026-12-03T09:30:00", 95, 2},
            // 70 s long distance at 0.07 per 6 s: 12 units, 0.84.
            {switchA, "78", "", "8001", "13912345678", "国内长途", "2026-12-04T10:00:00", 70},
            {switchA, "78", "", "8001", "13912345678", "国内长途", "2026-12-04T10:00:00", 70, 1,
             quelvar::report::repeatFiled},
            // After the version change: 61 s at 0.06 per 6 s, 11 units, 0.66.
            {switchA, "79", "", "8002", "13912345678", "国内长途", "2026-12-05T10:00:00", 61},
            // At night, old version: 13 s, 3 units at 0.035: 0.105.
            {switchA, "80", "", "8002", "02112345678", "国内长途", "2026-12-04T23:30:00", 13},
            // International, old version: 7 s, 0.801 + 0.801.
            {switchB, "90", "", "8001", "0014155550100", "国际长途", "2026-12-04T12:00:00", 7},
            // Nobody's extension.
            {switchB, "91", "", "8102", "8001", "内线", "2026-12-06T00:00:00", 15},
            // An account names who dialled: 9001 from 8003's phone.
            {switchA, "92", "9001", "8003", "075512345678", "市话", "2026-12-06T08:00:00", 200},
            // No time: counted, not rated.
            {switchA, "93", "", "8003", "075512345678", "市话", "", 30, 1, 0, "2026-12-06"},
            // Incoming: the caller pays, not the site.
            {switchA, "95", "8001", "01088888888", "8001", "国内长途", "2026-12-07T09:00:00", 600, 1, 0, "", "XO", "IN"},
            // Outside the period.
            {switchA, "94", "", "8001", "075512345678", "市话", "2026-11-30T12:00:00", 500},
        });
    }

    Json bill(const std::string& by) { return json("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", by}); }
};

TEST_F(Bill, GroupsAddUpToTheTotalExactly) {
    const std::map<std::string, std::map<std::string, std::string>> expected = {
        {"ext", {{"8001", "2.662"}, {"8002", "0.765"}, {"8003", "0.300"}, {"8102", "0.000"}}},
        // 张伟 moved on the 4th: a row for each department, each with the calls of its days.
        {"person",
         {{"张伟 财务部", "0.220"}, {"张伟 销售部", "0.840"}, {"李娜 技术部", "1.602"}, {"王芳 销售部", "0.765"},
          {"Smith, J. ", "0.300"}, {"8003 未登记", "0.000"}, {"8102 未登记", "0.000"}}},
        {"department",
         {{"财务部", "0.220"}, {"销售部", "1.605"}, {"技术部", "1.602"}, {"(no department)", "0.300"}, {"未登记", "0.000"}}},
        {"switch", {{switchA, "2.125"}, {switchB, "1.602"}}},
        {"trunk", {{"3", "3.727"}}},
        {"route", {{"IP", "3.727"}}},
    };
    for (const auto& [by, costs] : expected) {
        const Json answer = bill(by);
        std::map<std::string, std::string> found;
        long long calls = 0, seconds = 0;
        for (const Json& group : answer["groups"].items) {
            found[group["group"].string + (by == "person" ? " " + group["department"].string : std::string())] =
                group["cost"].string;
            calls += static_cast<long long>(group["calls"].number);
            seconds += static_cast<long long>(group["seconds"].number);
            // Each group's categories add up to the group.
            long long categoryCalls = 0;
            for (const auto& [name, category] : group["by_category"].members)
                categoryCalls += static_cast<long long>(category["calls"].number);
            EXPECT_EQ(categoryCalls, static_cast<long long>(group["calls"].number)) << by;
        }
        EXPECT_EQ(found, costs) << by;
        // The costliest first, the unlisted last.
        const auto& groups = answer["groups"].items;
        const auto unlisted = [&](const Json& group) {
            return group["group"].string == "未登记" || (by == "person" && group["department"].string == "未登记");
        };
        for (std::size_t i = 1; i < groups.size(); ++i) {
            EXPECT_FALSE(unlisted(groups[i - 1]) && !unlisted(groups[i])) << by << " " << i;
            if (unlisted(groups[i - 1]) == unlisted(groups[i])) {
                EXPECT_GE(std::stod(groups[i - 1]["cost"].string), std::stod(groups[i]["cost"].string)) << by << " " << i;
            }
        }
        if (by == "ext") {
            EXPECT_EQ(groups.front()["group"].string, "8001");
        }
        if (by == "department") {
            EXPECT_EQ(groups.front()["group"].string, "销售部");
            EXPECT_EQ(groups.back()["group"].string, "未登记");
            EXPECT_EQ(groups.back()["extensions"].items.size(), 2u);
        }
        if (by == "person") {
            EXPECT_EQ(groups.front()["group"].string, "李娜");
            EXPECT_EQ(groups.back()["department"].string, "未登记");
        }
        EXPECT_EQ(answer["total"]["cost"].string, "3.727") << by;
        EXPECT_EQ(calls, 8) << by;  // no repeat, nothing from November
        EXPECT_EQ(answer["total"]["calls"].number, 8) << by;
        EXPECT_EQ(seconds, 95 + 70 + 61 + 13 + 7 + 15 + 200 + 30) << by;
        EXPECT_EQ(answer["from"].string, "2026-12-01");
        EXPECT_EQ(answer["by"].string, by);
        ASSERT_EQ(answer["tariff_versions"].items.size(), 2u);
        EXPECT_EQ(answer["tariff_versions"].items[1].string, "2026-12-05");
        EXPECT_EQ(answer["total"]["unrated_calls"].number, 1);
        EXPECT_EQ(answer["incoming_calls"].number, 1);
        ASSERT_EQ(answer["unrated"].items.size(), 1u);
        EXPECT_EQ(answer["unrated"].items[0]["why"].string, "no start time");
    }
}

TEST_F(Bill, ThePageListsSingleCallsNotOnlyTheirSums) {
    const Answer before =
        run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "department", "--format", "json"});
    ASSERT_EQ(before.status, 0) << before.error;
    // With the costs kept, as `index --tariffs` keeps them: for these
    // tariffs, this area code and tele.ini.
    quelvar::report::Tariffs tariffs;
    std::string digest;
    ASSERT_TRUE(quelvar::report::Tariffs::read(folder / "tariffs.csv", tariffs).ok());
    ASSERT_TRUE(quelvar::report::readTariffsDigest(
                    folder / "tariffs.csv", digest, quelvar::report::CallCategories::sourceOf(folder.path().string()))
                    .ok());
    const quelvar::report::CallCategories categories =
        quelvar::report::CallCategories::ofProgramFolder(folder.path().string());
    sqlite3* index = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &index), SQLITE_OK);
    long long days = 0;
    const quelvar::Status kept = quelvar::report::keepCosts(index, tariffs, digest, &days, &categories);
    sqlite3_close(index);
    ASSERT_TRUE(kept.ok()) << kept.text();
    EXPECT_GT(days, 0);
    // The bill summed from the kept costs is the bill of every call.
    const Answer after =
        run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "department", "--format", "json"});
    ASSERT_EQ(after.status, 0) << after.error;
    EXPECT_EQ(after.out, before.out);
    const Answer answer = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "department", "--format",
                                       "html", "--appendix"});
    ASSERT_EQ(answer.status, 0) << answer.error;
    // The international call, in the appendix's list of them.
    EXPECT_NE(answer.out.find("0014155550100"), std::string::npos);
}

TEST_F(Bill, SummaryGroupsByTheDirectorysPeopleToo) {
    // Every call, incoming included: an account names its person.
    const Json answer = json("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "department"});
    std::map<std::string, long long> calls;
    for (const Json& group : answer["groups"].items) calls[group["group"].string] = group["calls"].integer();
    EXPECT_EQ(calls, (std::map<std::string, long long>{
                         {"财务部", 1}, {"销售部", 4}, {"技术部", 1}, {"(no department)", 1}, {"未登记", 2}}));
    EXPECT_EQ(answer["total"]["calls"].integer(), 9);
    EXPECT_EQ(answer["groups"].items.back()["group"].string, "未登记");
    const Json people = json("summary", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "person"});
    EXPECT_EQ(people["groups"][0]["group"].string, "Smith, J.");
    EXPECT_EQ(people["groups"].items.back()["group"].string, "8102");
    EXPECT_EQ(people["groups"].items.back()["department"].string, "未登记");
}

TEST_F(Bill, TheTableShowsFenAndSaysSumsAreExact) {
    const Answer answer = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--by", "department", "--lang", "en"});
    ASSERT_EQ(answer.status, 0) << answer.error;
    EXPECT_NE(answer.out.find("Bill from 2026-12-01 to 2026-12-31 by department"), std::string::npos) << answer.out;
    EXPECT_NE(answer.out.find("Tariff versions used: valid from 2026-01-01, 2026-12-05"), std::string::npos);
    EXPECT_NE(answer.out.find("rounded by largest remainder so that the groups add up to the total"), std::string::npos)
        << answer.out;
    EXPECT_NE(answer.out.find("1 call not rated (counted at 0): no start time"), std::string::npos);
    EXPECT_NE(answer.out.find("1 incoming call is not billed."), std::string::npos);
    // 3.727 shown to the fen.
    EXPECT_NE(answer.out.find("3.73"), std::string::npos);
    const Answer csv = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--format", "csv", "--lang", "en"});
    ASSERT_EQ(csv.status, 0) << csv.error;
    EXPECT_TRUE(csv.out.starts_with("\xEF\xBB\xBF" "ext,category,calls,unrated,minutes,seconds,cost\r\n")) << csv.out;
    EXPECT_NE(csv.out.find("(total),(all),8,1,8.2,491,3.73\r\n"), std::string::npos) << csv.out;
}

TEST_F(Bill, IsChineseByDefaultAndItsCsvIsOneTableWithTheNotesApart) {
    const Answer table = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31"});
    ASSERT_EQ(table.status, 0) << table.error;
    EXPECT_NE(table.out.find("话费账单 2026-12-01 至 2026-12-31，按分机"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("分机  类别      通话次数  未计费  时长(分)  时长(秒)  费用(元)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("1 次通话未计费（按 0 元计）：no start time"), std::string::npos) << table.out;
    EXPECT_TRUE(table.notes.empty());

    const Answer csv = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.error;
    const std::string header = "\xEF\xBB\xBF" "分机,类别,通话次数,未计费,时长(分),时长(秒),费用(元)\r\n";
    EXPECT_TRUE(csv.out.starts_with(header)) << csv.out;
    // One table: no empty line, every row as many fields as the header.
    EXPECT_EQ(csv.out.find("\r\n\r\n"), std::string::npos) << csv.out;
    EXPECT_TRUE(csv.out.ends_with("合计,小计,8,1,8.2,491,3.73\r\n")) << csv.out;
    ASSERT_EQ(csv.notes.size(), 4u);
    EXPECT_EQ(csv.notes[0], "所用资费：2026-01-01，2026-12-05 起施行的版本");
    EXPECT_NE(csv.notes[3].find("no start time"), std::string::npos);

    // GB18030 for a spreadsheet that opens CSV as GBK: 分机 is B7D6 BBFA, no byte-order mark.
    const Answer gbk = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--format", "csv", "--encoding", "gb18030"});
    ASSERT_EQ(gbk.status, 0) << gbk.error;
    EXPECT_TRUE(gbk.out.starts_with("\xB7\xD6\xBB\xFA,")) << gbk.out.substr(0, 20);
    EXPECT_TRUE(gbk.out.ends_with("\xBA\xCF\xBC\xC6,\xD0\xA1\xBC\xC6,8,1,8.2,491,3.73\r\n")) << gbk.out;  // 合计,小计
    EXPECT_EQ(run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--encoding", "gb18030"}).status, 2);
    EXPECT_EQ(run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--lang", "fr"}).status, 2);
}

TEST_F(Bill, UnratedCallsAreListedOneByOneWithTheKeysExplainTakes) {
    const Json answer = bill("ext");
    ASSERT_EQ(answer["unrated"].size(), 1u);
    EXPECT_EQ(answer["unrated"][0]["why"].string, "no start time");
    EXPECT_EQ(answer["unrated"][0]["calls"].integer(), 1);
    ASSERT_EQ(answer["unrated"][0]["keys"].size(), 1u);
    const std::string key = answer["unrated"][0]["keys"][0].string;
    EXPECT_EQ(key, "93");
    const Json explained = json("explain", {key});
    ASSERT_EQ(explained["calls"].size(), 1u);
    EXPECT_EQ(explained["calls"][0]["why"].string, "no start time");

    const Answer list = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--unrated", "--format", "csv"});
    ASSERT_EQ(list.status, 0) << list.error;
    EXPECT_EQ(list.out, "\xEF\xBB\xBF" "编号,交换机,开始时间,主叫,姓名,部门,被叫,类别,时长(秒),原因\r\n"
                        "93," + switchA + ",,8003,8003,,\"=\"\"075512345678\"\"\",市话,30,no start time\r\n");
    const Answer shown = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--unrated", "--lang", "en"});
    ASSERT_EQ(shown.status, 0) << shown.error;
    EXPECT_NE(shown.out.find("1 calls not rated"), std::string::npos) << shown.out;
}

TEST_F(Bill, ACarrierThatChargesEachCallToTheFenIsFollowed) {
    // One version only; the night call's 0.105 is charged as 0.11.
    writeFile(folder / "fen.csv",
              "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price,note,rounding\n"
              "2026-01-01,内线,,0,,60,0,,fen\n"
              "2026-01-01,市话,,180,0.22,60,0.11,,fen\n"
              "2026-01-01,国内长途,,0,,6,0.07,,fen\n"
              "2026-01-01,国内长途,23:00-07:00,0,,6,0.035,night,fen\n"
              "2026-01-01,国际长途,,6,0.801,6,0.801,,fen\n");
    const Json rounded = json("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--tariffs", folder / "fen.csv"});
    std::map<std::string, std::string> costs;
    for (const Json& group : rounded["groups"].items) costs[group["group"].string] = group["cost"].string;
    // 8001: 0.22 + 0.84 + 1.602 as 1.60; 8002: 0.77 + 0.105 as 0.11.
    EXPECT_EQ(costs["8001"], "2.660");
    EXPECT_EQ(costs["8002"], "0.880");
    EXPECT_EQ(costs["8003"], "0.330");
    EXPECT_EQ(rounded["total"]["cost"].string, "3.870");
    const Answer explained = run("explain", {"80", "--tariffs", folder / "fen.csv"});
    EXPECT_NE(explained.out.find("0.105 rounded to the fen (rounding fen on line 5"), std::string::npos) << explained.out;
    EXPECT_NE(explained.out.find("Cost 0.110 yuan"), std::string::npos) << explained.out;

    writeFile(folder / "bad.csv",
              "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price,rounding\n"
              "2026-01-01,市话,,180,0.22,60,0.11,jiao\n");
    const Answer bad = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--tariffs", folder / "bad.csv"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.error.find("line 2: bad rounding jiao"), std::string::npos) << bad.error;
}

TEST_F(Bill, ExplainShowsTheVersionRuleUnitsAndBand) {
    const Answer night = run("explain", {"80"});
    ASSERT_EQ(night.status, 0) << night.error;
    EXPECT_EQ(night.out,
              "Call 80 on switch " + switchA + "\n"
              "  from 8002 (王芳, 销售部) to 02112345678, 国内长途\n"
              "  started 2026-12-04T23:30:00, 13 seconds\n"
              "Tariff valid from 2026-01-01 in " + (folder / "tariffs.csv") + ", rules for 国内长途\n"
              "  3 units of 6 s from 23:30:00 by line 5 (国内长途, band 23:00-07:00): 3 x 0.035 = 0.105\n"
              "Cost 0.105 yuan (0.11 shown on bills)\n");
    const Answer legs = run("explain", {"77"});
    ASSERT_EQ(legs.status, 0) << legs.error;
    EXPECT_NE(legs.out.find("95 seconds"), std::string::npos) << legs.out;
    EXPECT_NE(legs.out.find("first 180 s from 09:30:00 by line 3 (市话, whole day): 0.220"), std::string::npos)
        << legs.out;
    const Json unrated = json("explain", {"93"});
    ASSERT_EQ(unrated["calls"].items.size(), 1u);
    EXPECT_EQ(unrated["calls"].items[0]["rated"].boolean, false);
    EXPECT_EQ(unrated["calls"].items[0]["why"].string, "no start time");
    // The same id on two switches: each explained, or one chosen by --switch.
    EXPECT_EQ(run("explain", {"404"}).status, 2);
    EXPECT_NE(run("explain", {"404"}).error.find("no call 404"), std::string::npos);
}

TEST_F(Bill, ARatedMonthCanBeRatedAgainAfterATariffChange) {
    EXPECT_EQ(bill("ext")["total"]["cost"].string, "3.727");
    writeFile(folder / "tariffs.csv",
              "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
              "2026-01-01,内线,,0,,60,0\n"
              "2026-01-01,市话,,0,,60,0.1\n"
              "2026-01-01,国内长途,,0,,60,0.3\n"
              "2026-01-01,国际长途,,0,,60,1\n");
    const Json again = bill("ext");
    // 市话 2 + 4 units, 国内长途 2 + 2 + 1, 国际长途 1; the untimed call still unrated.
    EXPECT_EQ(again["total"]["cost"].string, "3.100");
    ASSERT_EQ(again["tariff_versions"].items.size(), 1u);
}

TEST_F(Bill, MissingOrWrongFilesAreOneClearLine) {
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    writeFile(folder / "bad.csv", "switch,number,name,department,valid_from\n*,8001,,财务部,\n");
    const std::vector<Case> cases = {
        {{"--tariffs", folder / "none.csv"}, "no tariffs at " + (folder / "none.csv")},
        {{"--directory", folder / "none.csv"}, "read " + (folder / "none.csv")},
        {{"--directory", folder / "bad.csv"}, "read " + (folder / "bad.csv") + ": line 2: no name for 8001"},
        {{"--by", "floor"}, "--by: floor is none of ext, person, department, switch, trunk, route"},
        {{"--format", "xlsx"}, "--format xlsx needs --output FILE"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--from", "2026-12-01", "--to", "2026-12-31"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const Answer answer = run("bill", arguments);
        EXPECT_EQ(answer.status, 2);
        EXPECT_TRUE(answer.error.starts_with(c.error)) << answer.error;
        EXPECT_TRUE(answer.out.empty());
    }
    EXPECT_EQ(run("bill", {"--from", "2026-12-01"}).error, "bill needs --from and --to, or --month");
    EXPECT_EQ(run("bill", {"--month", "2026-13"}).error, "bad --month 2026-13 (YYYY-MM, or last)");
    EXPECT_EQ(run("bill", {"--month", "last", "--from", "2026-12-01"}).error,
              "--month and --from/--to name the period twice");
}

TEST_F(Bill, OutputGoesToAFileWholeOrNotAtAll) {
    const std::string path = folder / "bill.json";
    const Answer answer = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--format", "json", "--output", path});
    ASSERT_EQ(answer.status, 0) << answer.error;
    EXPECT_TRUE(answer.out.empty());
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"3.727\""), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
    // A schedule names its files by the month; --month last is the month
    // before the clock's (2026-12-10 here).
    const Answer named = run("bill", {"--month", "last", "--format", "json", "--output", folder / "bill-{month}.json"});
    ASSERT_EQ(named.status, 0) << named.error;
    std::ifstream november(folder / "bill-2026-11.json");
    const std::string novemberText((std::istreambuf_iterator<char>(november)), std::istreambuf_iterator<char>());
    EXPECT_NE(novemberText.find("\"from\":\"2026-11-01\",\"to\":\"2026-11-30\""), std::string::npos) << novemberText;
    EXPECT_NE(novemberText.find("\"calls\":1,"), std::string::npos) << novemberText;
    // Into a folder that is not there: an error, and nothing left behind.
    const Answer failed = run("bill", {"--from", "2026-12-01", "--to", "2026-12-31", "--output", folder / "no/bill.txt"});
    EXPECT_EQ(failed.status, 2);
    EXPECT_NE(failed.error.find("no/bill.txt.partial"), std::string::npos) << failed.error;
}

TEST(Directory, APersonIsFoundByDayAndSwitch) {
    std::vector<quelvar::report::CsvRow> rows;
    std::string failure;
    ASSERT_TRUE(quelvar::report::parseCsv("switch,number,name,department,valid_from\n"
                                          "*,8001,张伟,财务部,\n"
                                          "*,8001,张伟,销售部,2026-12-04\n"
                                          "00-1A-2B-3C-4D-5F,8001,李娜,技术部,2026-06-01\n",
                                          rows, failure)
                    .ok());
    quelvar::report::Directory directory;
    ASSERT_TRUE(quelvar::report::Directory::fromRows("directory.csv", rows, directory).ok());
    struct Case {
        std::string switchName, day, department;
    };
    for (const Case& c : std::vector<Case>{{switchA, "2026-12-03", "财务部"},
                                           {switchA, "2026-12-04", "销售部"},
                                           {"", "2026-12-04", "销售部"},
                                           {"00-1a-2b-3c-4d-5f", "2026-12-04", "技术部"},
                                           // Before its own line, the switch falls back on *.
                                           {switchB, "2026-05-31", "财务部"}}) {
        const auto* person = directory.find(c.switchName, "8001", c.day);
        ASSERT_NE(person, nullptr);
        EXPECT_EQ(person->department, c.department) << c.switchName << " " << c.day;
    }
    EXPECT_EQ(directory.find(switchA, "8009", "2026-12-04"), nullptr);
}

}  // namespace
