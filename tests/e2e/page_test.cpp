// The page of a month as the accounts office prints it: a month of about
// 6,000 generated calls and two months before, filed by the real collector,
// with twelve Saturday-night calls to a satellite number from an extension
// the directory does not list; the page printed to PDF by headless
// Chromium must fit on four A4 pages and show those calls, and the alerts
// of the month.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#ifdef QUELVAR_REPORT
#include <sqlite3.h>
#endif

#include "e2e/harness.h"
#include "e2e/report_runner.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

// The common tariff of a Chinese site, by category; 特服电话 has no rule,
// so those calls are left unrated.
const std::string tariffText =
    "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
    "2026-01-01,内线,,0,,60,0\n"
    "2026-01-01,市话,,180,0.22,60,0.11\n"
    "2026-01-01,国内长途,,0,,6,0.07\n"
    "2026-01-01,国内长途,23:00-07:00,0,,6,0.035\n"
    "2026-01-01,国际长途,,0,,6,0.80\n"
    "2026-01-01,00852,,0,,6,0.20\n"
    "2026-01-01,00853,,0,,6,0.20\n"
    "2026-01-01,00886,,0,,6,0.20\n";

const char* const departments[] = {"内科",   "外科",   "儿科",   "妇产科", "急诊科", "放射科", "检验科",
                                   "药剂科", "护理部", "院办",   "财务科", "信息科", "后勤处", "医务处",
                                   "人事处", "保卫科", "门诊部", "住院部", "设备科"};

// Every extension but 8980-8999, in nineteen departments.
std::string directoryText() {
    std::string text = "switch,number,name,department,valid_from\n";
    for (int number = 8000; number < 8980; ++number)
        text +=
            "*," + std::to_string(number) + ",职工" + std::to_string(number) + "," + departments[number % 19] + ",\n";
    return text;
}

// Twelve calls at 2 a.m. on Saturday 21 November 2026 from 8999 to one
// satellite number, each 8 to 19 minutes.
constexpr const char* satellite = "008821650012";
std::string satelliteCalls() {
    std::string lines;
    for (int i = 0; i < 12; ++i) {
        char line[320];
        std::snprintf(line, sizeof line,
                      "RECORD:ID=%d&RID=990%02d-1&ACCOUNT=8999&CPN=8999&CDPN=%s&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&"
                      "TIME-S=261121%02d%02d00&DURATION=%d&TRUNKN=3&\n\n",
                      99000 + i, i, satellite, 2, i * 4, 480 + i * 60);
        lines += line;
    }
    return lines;
}

class MonthPage : public testing::Test {
protected:
    void SetUp() override {
#ifndef QUELVAR_REPORT
        GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
#else
        if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux program";
        fs::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
#endif
    }
    CommandOutcome report(const std::string& arguments) { return runReport(folder.path(), arguments); }

    void send(const std::string& arguments) {
        const CommandOutcome sent = runCommand(
            std::string(QUELVAR_SEND) + " --quiet --rate 1500 --timeout 10000 " + arguments, std::chrono::seconds(180));
        ASSERT_EQ(sent.status, 0) << arguments << "\n" << sent.output;
    }

    // The page printed by Chromium: its pages and its text.
    struct Printed {
        int pages = 0;
        std::string text;
    };
    Printed print(const fs::path& page, const std::string& name) {
        const fs::path pdf = folder / (name + ".pdf");
        const CommandOutcome printed = runCommand(
            "timeout 120 " + chromium + " --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir='" +
                (folder / "profile").string() + "' --no-pdf-header-footer --print-to-pdf='" + pdf.string() +
                "' 'file://" + page.string() + "' 2>/dev/null",
            std::chrono::seconds(150));
        EXPECT_EQ(printed.status, 0) << printed.output;
        Printed result;
        const CommandOutcome info = runCommand("pdfinfo '" + pdf.string() + "'", std::chrono::seconds(30));
        std::smatch pages;
        if (std::regex_search(info.output, pages, std::regex(R"(Pages:\s+(\d+))"))) result.pages = std::stoi(pages[1]);
        EXPECT_TRUE(std::regex_search(info.output, std::regex(R"(Page size:.*\(A4\))"))) << info.output;
        result.text = runCommand("pdftotext -layout '" + pdf.string() + "' -", std::chrono::seconds(30)).output;
        // QUELVAR_TEST_KEEP=DIR keeps the PDF, to look at.
        if (const char* keep = std::getenv("QUELVAR_TEST_KEEP"); keep != nullptr && *keep != '\0') {
            fs::create_directories(keep);
            fs::copy_file(pdf, fs::path(keep) / pdf.filename(), fs::copy_options::overwrite_existing);
            fs::copy_file(page, fs::path(keep) / page.filename(), fs::copy_options::overwrite_existing);
        }
        return result;
    }

    // The alerts a month of such calls raises, as `alerts` keeps them in the
    // index: more than the page's own pages list.
    void addAlerts() {
#ifdef QUELVAR_REPORT
        sqlite3* index = nullptr;
        ASSERT_EQ(sqlite3_open((folder / "quelvar.db").c_str(), &index), SQLITE_OK);
        std::string sql =
            "CREATE TABLE IF NOT EXISTS alerts (id INTEGER PRIMARY KEY, rule TEXT NOT NULL, rule_key TEXT NOT NULL, "
            "subject TEXT NOT NULL, period TEXT NOT NULL, raised TEXT NOT NULL, closed TEXT, switch TEXT, ext TEXT, "
            "number TEXT, first TEXT, last TEXT, calls INTEGER, seconds INTEGER, cost INTEGER, text TEXT NOT NULL, "
            "UNIQUE (rule_key, subject, period));"
            "INSERT INTO alerts (rule, rule_key, subject, period, raised, closed, text) VALUES "
            "('silent', 's', '00-1A-2B-3C-4D-5F', 'a', '2026-11-13T11:20:00', NULL, "
            "'交换机 00-1A-2B-3C-4D-5F 自 2026-11-13 09:12 起静默，通常的工作时间内已超过 2 小时没有话单'),"
            "('silent', 's', '00-1A-2B-3C-4D-5F', 'b', '2026-11-08T00:00:30', '2026-11-08T08:03:00', "
            "'交换机 00-1A-2B-3C-4D-5F 2026-11-07 整天没有话单（通常每天都有）'),"
            "('call', 'c', '8999', 'c', '2026-11-21T02:00:40', NULL, "
            "'可疑呼叫：分机 8999 于 2026-11-21 02:00 拨打卫星号码 008821650012，时长 8 分钟'),"
            "('unlisted', 'u', '8999', 'd', '2026-11-21T02:00:40', NULL, "
            "'电话簿中没有的分机 8999 外拨 008821650012'),"
            "('cost', 'o', '8999', 'e', '2026-11-21T02:44:40', NULL, "
            "'分机 8999 24 小时内话费 758.40 元，超过 500 元'),"
            "('budget', 'b', 'department:内科', 'f', '2026-11-24T10:00:00', NULL, "
            "'内科本月话费已达限额 800 元的 80%（640.12 元）'),"
            "('budget', 'b', 'department:内科', 'g', '2026-11-28T15:30:00', NULL, "
            "'内科本月话费已达限额 800 元（801.05 元）')";
        for (int i = 0; i < 5; ++i)
            sql += ",('long', 'l', '80" + std::to_string(10 + i) + "', 'h" + std::to_string(i) + "', '2026-11-" +
                   std::to_string(10 + i) + "T16:00:00', NULL, '超长通话：分机 80" + std::to_string(10 + i) +
                   " 拨打 13912345678，时长 1 小时 12 分钟')";
        ASSERT_EQ(sqlite3_exec(index, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(index);
        sqlite3_close(index);
#endif
    }

    const std::string chromium = "/usr/bin/chromium";
    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(MonthPage, PrintsOnFourA4PagesWithTheUnusualCallsOnThem) {
    if (!fs::exists(chromium)) GTEST_SKIP() << "Chromium is not installed: Debian's package chromium";
    if (runCommand("pdfinfo -v 2>&1 && pdftotext -v 2>&1", std::chrono::seconds(10)).status != 0)
        GTEST_SKIP() << "pdfinfo and pdftotext are not installed: Debian's package poppler-utils";
    folder.write("Quelvar.ini", "AREACODE=0755\r\n");
    folder.write("satellite.txt", satelliteCalls());
    folder.start();
    send("--generate 1500 --month 2026-09 --seed 909");
    send("--generate 1800 --month 2026-10 --seed 1010");
    send("--generate 6000 --month 2026-11 --seed 1111");
    send("--file '" + (folder / "satellite.txt").string() + "'");
    waitUntilHandled(folder, sw);
    folder.stop();

    folder.write("tariffs.csv", tariffText);
    folder.write("directory.csv", directoryText());
    ASSERT_EQ(report("index").status, 0);
    addAlerts();

    const fs::path page = folder / "month.html";
    const CommandOutcome written = report("bill --month 2026-11 --format html --output '" + page.string() + "'");
    ASSERT_EQ(written.status, 0) << written.output;
    const Printed printed = print(page, "month");
    EXPECT_GE(printed.pages, 2);
    EXPECT_LE(printed.pages, 4) << "the page of a month prints on at most four A4 pages";
    // The twelve calls, each with its start, and the extension among those
    // the directory does not list; the number also as a burst.
    for (int i = 0; i < 12; ++i) {
        char start[32];
        std::snprintf(start, sizeof start, "2026-11-21 02:%02d:00", i * 4);
        EXPECT_NE(printed.text.find(start), std::string::npos) << start << "\n" << printed.text;
    }
    std::size_t seen = 0;
    for (std::size_t at = printed.text.find(satellite); at != std::string::npos;
         at = printed.text.find(satellite, at + 1))
        ++seen;
    EXPECT_GE(seen, 13u) << "twelve calls and the burst";
    EXPECT_NE(printed.text.find("8999"), std::string::npos);
    for (const char* heading : {"各部门费用", "与前几个月比较", "费用最高的主叫", "异常通话", "未计费通话",
                                "非工作时间的国际、卫星和声讯电话", "电话簿中没有的分机", "集中拨打同一号码", "告警",
                                "仍在静默", "其余见附录"})
        EXPECT_NE(printed.text.find(heading), std::string::npos) << heading;
    EXPECT_NE(printed.text.find("09月"), std::string::npos) << "the months before";
    EXPECT_NE(printed.text.find("2026-10"), std::string::npos) << "the month before";

    // With the appendix: the long lists too, on more pages.
    const fs::path full = folder / "month-appendix.html";
    ASSERT_EQ(report("bill --month 2026-11 --format html --appendix --output '" + full.string() + "'").status, 0);
    const Printed all = print(full, "month-appendix");
    EXPECT_GT(all.pages, printed.pages);
    EXPECT_NE(all.text.find("附录"), std::string::npos);
    EXPECT_NE(all.text.find("长时间通话"), std::string::npos);
    EXPECT_EQ(report("bill --month 2026-11 --appendix").status, 2) << "--appendix is for the page";
}

}  // namespace
