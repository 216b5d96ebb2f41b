// quelvar-report against what an attacker can send to the collector or put
// beside the tool: values that spreadsheets run as formulas, a forged
// duration, impossible times, a link planted where the answer is written,
// the index named as the answer, another program's database, a damaged index.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "e2e/harness.h"
#include "e2e/report_runner.h"
#include "e2e/switch_client.h"
#include "support/json_reader.h"
#include "support/outside_readers.h"
#include "support/time_zone.h"
#include "support/today.h"

namespace {

namespace fs = std::filesystem;
using quelvar::test::Json;

const std::string mac = "00:1A:2B:3C:4D:5E";

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Every cell of a workbook as openpyxl reads it: SHEET<TAB>CELL<TAB>TYPE<TAB>VALUE.
const char* const cellsScript = R"(
import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
for sheet in book.worksheets:
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is not None:
                print('%s\t%s\t%s\t%s' % (sheet.title, cell.coordinate, cell.data_type, cell.value))
)";

// (type, value) of every cell, from openpyxl; the test ends where it is missing.
std::vector<std::pair<std::string, std::string>> cellsOf(const fs::path& workbook) {
    std::string output;
    if (outside::run(outside::quoted(outside::python()) + " -c 'import openpyxl'", output) != 0)
        endTest("python3-openpyxl is not installed: " + output);
    const int status = outside::run(outside::quoted(outside::python()) + " -c " + outside::quoted(cellsScript) + " " +
                                        outside::quoted(workbook.string()),
                                    output);
    EXPECT_EQ(status, 0) << output;
    std::vector<std::pair<std::string, std::string>> cells;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        if (fields.size() == 4) cells.emplace_back(fields[2], fields[3]);
    }
    return cells;
}

class ReportHostile : public testing::Test {
protected:
    void SetUp() override {
#ifndef QUELVAR_REPORT
        GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
#else
        if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux program";
        fs::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
        // Every call costs 0.10 a minute, whatever its number.
        folder.write("tariffs.csv",
                     "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
                     "2000-01-01,0,,0,,60,0.1\n2000-01-01,1,,0,,60,0.1\n2000-01-01,8,,0,,60,0.1\n"
                     "2000-01-01,0,23:00-07:00,0,,60,0.05\n");
#endif
    }

    // One call as the switch sends it.
    void send(const std::string& key, const std::string& account, const std::string& caller,
              const std::string& callee, const std::string& timeS, const std::string& duration) {
        sw.send("RECORD:ID=" + std::to_string(++id_) + "&RID=" + key + "-1&ACCOUNT=" + account + "&CPN=" + caller +
                "&CDPN=" + callee + "&TYPE=OU&ROUTE=IP&MAC=" + mac + "&TIME-S=" + timeS + "&DURATION=" + duration +
                "&TRUNKN=3&");
        EXPECT_TRUE(sw.receive().has_value()) << key;
    }
    void fileAndIndex() {
        waitUntilHandled(folder, sw);
        folder.stop();
        const CommandOutcome indexed = report("index");
        ASSERT_EQ(indexed.status, 0) << indexed.output;
    }
    void sendOrdinaryCall() {
        folder.start();
        send("11", "8001", "8001", "075512345678", todayAs("%y%m%d") + "100000", "125");
        fileAndIndex();
    }

    CommandOutcome report(const std::string& arguments) { return runReport(folder.path(), arguments); }
    Json json(const std::string& arguments) { return reportJson(folder.path(), arguments); }
    std::string today() const { return todayAs("%Y-%m-%d"); }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;

private:
    int id_ = 0;
};

// What a spreadsheet would run as a formula comes out as text, in the CSV
// (read back by LibreOffice) and in the workbook; numbers and phone numbers
// still read as they are.
TEST_F(ReportHostile, FormulaLikeValuesComeOutAsText) {
    folder.start();
    const std::vector<std::string> hostile = {"=HYPERLINK(\"http://evil.example/\",\"x\")", "+1+cmd|'/Ccalc'!A0",
                                              "-2+3+cmd|'/Ccalc'!A0", "@SUM(1+1)*cmd|'/Ccalc'!A0"};
    for (std::size_t i = 0; i < hostile.size(); ++i)
        send(std::to_string(21 + i), hostile[i], hostile[(i + 1) % hostile.size()], hostile[(i + 2) % hostile.size()],
             todayAs("%y%m%d") + "10000" + std::to_string(i), "60");
    send("31", "8001", "8001", "+8613912345678", todayAs("%y%m%d") + "110000", "60");
    fileAndIndex();
    const Json sent = json("calls --from " + today() + " --to " + today());
    ASSERT_EQ(sent["calls"].size(), hostile.size() + 1);
    for (std::size_t i = 0; i < hostile.size(); ++i)
        ASSERT_EQ(sent["calls"][i]["account"].string, hostile[i]) << "the collector filed another value";

    const std::string period = "--from " + today() + " --to " + today();
    for (const std::string answer : {"calls", "bill", "summary"}) {
        const std::string name = answer + ".csv";
        const std::string by = answer == std::string("summary") ? " --by ext" : "";
        const CommandOutcome written =
            report(answer + " " + period + by + " --format csv --output '" + (folder / name).string() + "'");
        ASSERT_EQ(written.status, 0) << written.output;
        // No cell begins with what starts a formula, but the ="..." of a number.
        const std::string csv = bytesOf(folder / name);
        for (const std::string& value : hostile)
            for (const std::string before : {",", "\n", "\""})
                EXPECT_EQ(csv.find(before + value), std::string::npos) << name << ": " << value << "\n" << csv;

        // LibreOffice reads the CSV; openpyxl reads what it made of it.
        std::string output;
        const int converted = outside::run(
            "cd " + outside::quoted(folder.path().string()) + " && HOME=" + outside::quoted(folder.path().string()) +
                " timeout 300 soffice --headless --infilter=CSV:44,34,76,1 --convert-to xlsx --outdir converted " + name,
            output);
        if (converted != 0 && output.find("not found") != std::string::npos) GTEST_SKIP() << "no LibreOffice: " << output;
        ASSERT_EQ(converted, 0) << output;
        const auto cells = cellsOf(folder / "converted" / (answer + ".xlsx"));
        ASSERT_FALSE(cells.empty()) << name;
        for (const auto& [type, value] : cells) {
            if (type == "f") {
                EXPECT_EQ(value.rfind("=\"", 0), 0u) << name << ": a formula that is not a text: " << value;
            }
            for (const std::string& bad : hostile) {
                if (value.find(bad) != std::string::npos) {
                    EXPECT_EQ(type, "s") << name << ": " << value;
                }
            }
        }
        if (answer == std::string("calls")) {
            for (const std::string& value : hostile) {
                bool found = false;
                for (const auto& [type, cell] : cells) found = found || (type == "s" && cell == "'" + value);
                EXPECT_TRUE(found) << "calls.csv lacks the text '" << value;
            }
            bool phone = false;
            for (const auto& [type, cell] : cells) phone = phone || cell == "=\"+8613912345678\"";
            EXPECT_TRUE(phone) << "+8613912345678 is not kept as it reads";
        }
    }

    // The workbook holds them as text cells, as they came.
    const CommandOutcome book =
        report("bill " + period + " --format xlsx --output '" + (folder / "bill.xlsx").string() + "'");
    ASSERT_EQ(book.status, 0) << book.output;
    const auto cells = cellsOf(folder / "bill.xlsx");
    for (const std::string& value : hostile) {
        bool found = false;
        for (const auto& [type, cell] : cells) {
            if (cell == value) {
                found = true;
                EXPECT_EQ(type, "s") << value;
            }
        }
        EXPECT_TRUE(found) << "bill.xlsx lacks " << value;
    }
}

// A forged duration is not charged, and starts that are no real time are
// not rated: the bill says why for each, status lists them.
TEST_F(ReportHostile, ForgedDurationAndImpossibleTimesAreLeftUnratedWithTheirReason) {
    folder.start();
    send("41", "8001", "8001", "075512345678", todayAs("%y%m%d") + "100000", "9999999999999");
    send("42", "8002", "8002", "075512345678", todayAs("%y%m%d") + "256100", "60");  // 25:61:00
    send("43", "8003", "8003", "075512345678", "261131100000", "60");                // 2026-11-31
    send("44", "8004", "8004", "075512345678", todayAs("%y%m%d") + "120000", "60");
    fileAndIndex();

    const Json bill = json("bill --from " + today() + " --to " + today());
    std::map<std::string, long long> unrated;
    for (const Json& reason : bill["unrated"].items) unrated[reason["why"].string] = reason["calls"].integer();
    EXPECT_EQ(unrated, (std::map<std::string, long long>{{"longer than a day", 1}, {"start filed as no real time", 1}}));
    EXPECT_EQ(bill["total"]["cost"].string, "0.100") << "only the ordinary call is charged";

    // The file of a day that does not exist, its call in November's bill.
    const Json november = json("bill --month 2026-11");
    ASSERT_EQ(november["unrated"].size(), 1u);
    EXPECT_EQ(november["unrated"][0]["why"].string, "start filed as no real time");

    const Json status = json("status --days 1");
    std::map<std::string, std::string> why;  // by call id, or by file for a file
    for (const Json& suspect : status["suspects"]["listed"].items)
        why[suspect["call_id"].string.empty() ? fs::path(suspect["file"].string).filename().string()
                                               : suspect["call_id"].string] = suspect["why"].string;
    EXPECT_EQ(why, (std::map<std::string, std::string>{{"41-1", "longer than a day"},
                                                       {"42-1", "start filed as no real time"},
                                                       {"CDR_2026_11_31.txt", "named for no real day"},
                                                       {"CDR_2026_11_31.csv", "named for no real day"}}));
    bool counted = false;
    for (const Json& entry : status["switches"].items)
        for (const Json& day : entry["days"].items)
            if (day["date"].string == today()) {
                counted = true;
                EXPECT_EQ(day["impossible_times"].integer(), 1);
                EXPECT_EQ(day["longer_than_a_day"].integer(), 1);
            }
    EXPECT_TRUE(counted);
}

// --output writes a new file beside: a link planted in its name is not
// followed (the file it names keeps its bytes), whatever the format; the
// index itself is refused as the answer.
TEST_F(ReportHostile, OutputFollowsNoPlantedLinkAndSparesTheIndex) {
    sendOrdinaryCall();
    folder.write("victim.txt", "keep me\n");
    const std::string period = "--from " + today() + " --to " + today();
    for (const std::string format : {"csv", "xlsx"}) {
        const fs::path answer = folder / ("bill." + format);
        fs::create_symlink(folder / "victim.txt", answer.string() + ".partial");
        const CommandOutcome written = report("bill " + period + " --format " + format + " --output '" + answer.string() + "'");
        ASSERT_EQ(written.status, 0) << written.output;
        EXPECT_EQ(bytesOf(folder / "victim.txt"), "keep me\n") << format;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(answer))) << format;
        EXPECT_GT(fs::file_size(answer), 0u) << format;
        // Nothing of its own is left beside it.
        std::size_t beside = 0;
        for (const auto& entry : fs::directory_iterator(folder.path()))
            beside += entry.path().filename().string().starts_with("bill." + format + ".partial") ? 1 : 0;
        EXPECT_EQ(beside, 1u) << format << ": only the planted link";
    }

    const std::string index = bytesOf(folder / "quelvar.db");
    fs::create_symlink(folder / "quelvar.db", folder / "index-link.csv");
    for (const fs::path& target : {folder / "quelvar.db", folder / "index-link.csv"}) {
        for (const std::string format : {"csv", "xlsx"}) {
            const CommandOutcome refused =
                report("bill " + period + " --format " + format + " --output '" + target.string() + "'");
            EXPECT_EQ(refused.status, 2) << refused.output;
            EXPECT_NE(refused.output.find("that is the index"), std::string::npos) << refused.output;
        }
    }
    EXPECT_EQ(bytesOf(folder / "quelvar.db"), index);
    EXPECT_TRUE(fs::is_symlink(folder / "index-link.csv"));
}

// A database of another program is refused and left byte for byte as it
// was, by index and by index --rebuild alike.
TEST_F(ReportHostile, AnotherProgramsDatabaseIsLeftAsItWas) {
    folder.write("rec/.keep", "");
    const auto made = [&](const std::string& name, const std::string& sql) {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((folder / name).string().c_str(), &database), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(database);
        sqlite3_close(database);
    };
    made("other.sqlite", "PRAGMA user_version = 3; CREATE TABLE calls(who TEXT); INSERT INTO calls VALUES('mine');");
    made("marked.sqlite", "PRAGMA application_id = 1234; CREATE TABLE files(x); CREATE TABLE calls(x); CREATE TABLE legs(x);");
    made("plain.sqlite", "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine');");
    folder.write("notes.txt", "not a database at all, but mine\n");
    for (const std::string name : {"other.sqlite", "marked.sqlite", "plain.sqlite", "notes.txt"}) {
        const std::string before = bytesOf(folder / name);
        for (const std::string command : {"index", "index --rebuild"}) {
            const CommandOutcome refused = report(command + " --db '" + (folder / name).string() + "'");
            EXPECT_EQ(refused.status, 2) << name << " " << command << ": " << refused.output;
            // SQLite itself cannot read the text file as a database.
            const std::string said = name == "notes.txt" ? command == "index" ? "not a database" : "not an SQLite database"
                                                         : "not a Quelvar index";
            EXPECT_NE(refused.output.find(said), std::string::npos) << name << " " << command << ": " << refused.output;
            EXPECT_EQ(bytesOf(folder / name), before) << name << " " << command;
        }
        EXPECT_FALSE(fs::exists(folder / (name + "-journal"))) << name;
    }
    // An empty file is made an index.
    folder.write("empty.sqlite", "");
    const CommandOutcome indexed = report("index --db '" + (folder / "empty.sqlite").string() + "'");
    EXPECT_EQ(indexed.status, 0) << indexed.output;
}

// A damaged index says how to make it anew; --rebuild does, from the files.
TEST_F(ReportHostile, ADamagedIndexIsRebuiltFromTheFiles) {
    sendOrdinaryCall();
    const fs::path index = folder / "quelvar.db";
    ASSERT_EQ(json("calls")["calls"].size(), 1u);
    // Every page after the first overwritten: the header still says SQLite.
    {
        std::fstream file(index, std::ios::in | std::ios::out | std::ios::binary);
        const auto size = static_cast<std::streamoff>(fs::file_size(index));
        file.seekp(4096);
        for (std::streamoff at = 4096; at < size; ++at) file.put('\x5A');
    }
    const CommandOutcome damaged = report("calls");
    EXPECT_EQ(damaged.status, 2);
    EXPECT_NE(damaged.output.find("quelvar-report index --rebuild"), std::string::npos) << damaged.output;
    const CommandOutcome again = report("index");
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.output.find("quelvar-report index --rebuild"), std::string::npos) << again.output;

    // A rebuild that fails leaves the index as it was.
    const std::string broken = bytesOf(index);
    const CommandOutcome failed = report("index --rebuild --root '" + (folder / "missing").string() + "'");
    EXPECT_EQ(failed.status, 2) << failed.output;
    EXPECT_EQ(bytesOf(index), broken);

    const CommandOutcome rebuilt = report("index --rebuild");
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.output;
    // The alerts raised are kept by a rebuild as far as the old index gives them: this one gives none.
    EXPECT_NE(rebuilt.output.find("the alerts raised before could not be read"), std::string::npos) << rebuilt.output;
    const Json calls = json("calls");
    ASSERT_EQ(calls["calls"].size(), 1u);
    EXPECT_EQ(calls["calls"][0]["seconds"].integer(), 125);
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().filename().string().find(".rebuild"), std::string::npos) << entry.path();
}

}  // namespace
