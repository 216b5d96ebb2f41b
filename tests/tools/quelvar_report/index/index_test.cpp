#include "quelvar_report/index/index.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "tools/quelvar_report/fixture_lines.h"
#include "quelvar_report/index/schema.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using quelvar::report::IndexReport;

const std::string sw = "00-1A-2B-3C-4D-5E";

Leg leg(const std::wstring& rid, const std::wstring& start, const std::wstring& end, const std::wstring& seconds,
        const std::wstring& trunk) {
    return {rid, L"8001", L"13912345678", L"市话", L"OU", start, end, seconds, L"IP", trunk, L"8001"};
}

class Index : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sqlite3_open(":memory:", &database_), SQLITE_OK); }
    void TearDown() override { sqlite3_close(database_); }

    // Appends lines (each closed by CR LF) to a file under the root, its header first when it is new.
    void append(const std::string& name, const std::string& header, const std::vector<std::string>& lines) {
        const fs::path path = root_.path() / name;
        fs::create_directories(path.parent_path());
        const bool fresh = !fs::exists(path);
        std::ofstream out(path, std::ios::binary | std::ios::app);
        if (fresh) out << header;
        for (const std::string& line : lines) out << line << "\r\n";
    }
    void encryptedCall(const std::string& base, const std::vector<Leg>& legs, const std::wstring& count,
                       const std::string& day = "2024_03_15") {
        std::vector<std::string> legLines;
        for (const Leg& l : legs) legLines.push_back(encryptedLegLine(l));
        append(base + sw + "/old/CDR_" + day + ".txt", legHeader(sw), legLines);
        append(base + sw + "/new/CDR_" + day + ".txt", textHeader(sw), {encryptedMergedLine(legs[0], count)});
        append(base + sw + "/new/CDR_" + day + ".csv", csvHeader(sw, false),
               {encryptedCsvLine(legs[0], L"呼出", L"IP中继")});
    }

    IndexReport index() {
        IndexReport report;
        const quelvar::Status updated = quelvar::report::updateIndex(database_, {root_.path().string()}, report);
        EXPECT_TRUE(updated.ok()) << updated.text();
        return report;
    }

    // The rows of a query, each as its columns joined by '|'.
    std::vector<std::string> rows(const std::string& sql) {
        std::vector<std::string> result;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(database_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* text = sqlite3_column_text(statement, column);
                row += (column ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            result.push_back(row);
        }
        sqlite3_finalize(statement);
        return result;
    }

    TempFolder root_;
    sqlite3* database_ = nullptr;
};

TEST_F(Index, EachCallIsOneRowFromItsMostCompleteCopyAndEveryLineIsKept) {
    // A call of two legs: its leg lines, its merged record (the first leg's times) and the CSV.
    encryptedCall("", {leg(L"00000000000000077-1", L"240315093000", L"240315093115", L"75", L"3"),
                       leg(L"00000000000000077-2", L"240315093115", L"240315093135", L"20", L"5")},
                  L"2");
    // The merged record says three legs; two were filed.
    encryptedCall("", {leg(L"00000000000000078-1", L"240315100000", L"240315100010", L"10", L"3"),
                       leg(L"00000000000000078-2", L"240315100010", L"240315100020", L"10", L"3")},
                  L"3");
    // The CSV disagrees with the text about the duration.
    const Leg alone = leg(L"00000000000000079-1", L"240315110000", L"240315110100", L"60", L"4");
    append(sw + "/old/CDR_2024_03_15.txt", "", {encryptedLegLine(alone)});
    append(sw + "/new/CDR_2024_03_15.txt", "", {encryptedMergedLine(alone, L"1")});
    Leg other = alone;
    other.duration = L"61";
    append(sw + "/new/CDR_2024_03_15.csv", "", {encryptedCsvLine(other, L"呼出", L"IP中继")});
    // The same call filed twice: the second filing is a row of its own, flagged.
    for (int twice = 0; twice < 2; ++twice)
        encryptedCall("", {leg(L"00000000000000080-1", L"240315120000", L"240315120030", L"30", L"6")}, L"1");
    // A record lacking CDPN, in the err tree.
    Leg lacking = leg(L"00000000000000081-1", L"240315130000", L"240315130005", L"5", L"7");
    lacking.cdpn = L"?";
    encryptedCall("err/", {lacking}, L"1");
    // A line nobody can read.
    append(sw + "/old/CDR_2024_03_15.txt", "", {quelvar::toGbk(L"损坏的行 garbage")});
    // A plain-mode switch: one record in three files.
    const Leg plain = leg(L"00000000000000090-1", L"240315140000", L"240315140100", L"60", L"8");
    append("00-AA/new/CDR_2024_03_15.txt", textHeader("00:AA"), {plainMergedLine(plain)});
    append("00-AA/new/CDR_2024_03_15.csv", csvHeader("00:AA", true), {plainCsvLine(plain, L"呼出", L"IP中继")});
    append("00-AA/old/CDR_2024_03_15.txt", legHeader("00:AA"), {plainLegLine(plain)});

    const IndexReport report = index();
    EXPECT_EQ(report.filesSeen, 9);
    EXPECT_EQ(report.callsAdded, 8);
    EXPECT_EQ(report.unparsableLines, 1);
    using namespace quelvar::report;
    EXPECT_EQ(rows("SELECT switch, call_id, legs, seconds, start, end, category, type, route, trunk, flags FROM calls"
                   " ORDER BY switch, call_key, occurrence, flags"),
              (std::vector<std::string>{
                  "00-1A-2B-3C-4D-5E||0|0|NULL|NULL|||||" + std::to_string(unparsable),
                  "00-1A-2B-3C-4D-5E|77-1|2|95|2024-03-15T09:30:00|2024-03-15T09:31:35|市话|OU|IP|3|0",
                  "00-1A-2B-3C-4D-5E|78-1|2|20|2024-03-15T10:00:00|2024-03-15T10:00:20|市话|OU|IP|3|" +
                      std::to_string(disagreeing),
                  "00-1A-2B-3C-4D-5E|79-1|1|60|2024-03-15T11:00:00|2024-03-15T11:01:00|市话|OU|IP|4|" +
                      std::to_string(disagreeing),
                  "00-1A-2B-3C-4D-5E|80-1|1|30|2024-03-15T12:00:00|2024-03-15T12:00:30|市话|OU|IP|6|0",
                  "00-1A-2B-3C-4D-5E|80-1|1|30|2024-03-15T12:00:00|2024-03-15T12:00:30|市话|OU|IP|6|" +
                      std::to_string(repeatFiled),
                  "00-1A-2B-3C-4D-5E|81-1|1|5|2024-03-15T13:00:00|2024-03-15T13:00:05|市话|OU|IP|7|" +
                      std::to_string(fromErrTree),
                  "00-AA|90-1|1|60|2024-03-15T14:00:00|2024-03-15T14:01:00|市话|OU|IP|8|0",
              }));
    EXPECT_EQ(rows("SELECT text, line FROM calls WHERE flags & " + std::to_string(unparsable)),
              std::vector<std::string>{"损坏的行 garbage|9"});
    EXPECT_EQ(rows("SELECT legs.leg, legs.seconds, legs.trunk FROM legs JOIN calls ON calls.id = legs.call"
                   " WHERE calls.call_key = '77' ORDER BY legs.leg"),
              (std::vector<std::string>{"1|75|3", "2|20|5"}));
}

// Legs sent in datagrams of their own each leave a record with COUNT 1: the
// later leg's record is a copy of that leg, not a call, and without leg lines
// the records alone give the legs.
TEST_F(Index, ALaterLegThatCameAloneIsALegOfItsCallNotACall) {
    const Leg first = leg(L"00000000000000091-1", L"240315150000", L"240315150115", L"75", L"3");
    const Leg second = leg(L"00000000000000091-2", L"240315150115", L"240315150140", L"25", L"5");
    encryptedCall("", {first}, L"1");
    encryptedCall("", {second}, L"1");
    // The same without leg lines: only the records in new/.
    const Leg onlyFirst = leg(L"00000000000000092-1", L"240315160000", L"240315160010", L"10", L"3");
    const Leg onlySecond = leg(L"00000000000000092-2", L"240315160010", L"240315160040", L"30", L"3");
    for (const Leg& each : {onlyFirst, onlySecond}) {
        append(sw + "/new/CDR_2024_03_15.txt", textHeader(sw), {encryptedMergedLine(each, L"1")});
        append(sw + "/new/CDR_2024_03_15.csv", csvHeader(sw, false), {encryptedCsvLine(each, L"呼出", L"IP中继")});
    }
    index();
    EXPECT_EQ(rows("SELECT call_id, legs, seconds, start, end, flags FROM calls ORDER BY call_key"),
              (std::vector<std::string>{"91-1|2|100|2024-03-15T15:00:00|2024-03-15T15:01:40|0",
                                        "92-1|2|40|2024-03-15T16:00:00|2024-03-15T16:00:40|0"}));

    // The second leg filed after an index run joins the call indexed before.
    const Leg later = leg(L"00000000000000093-1", L"240315170000", L"240315170100", L"60", L"3");
    encryptedCall("", {later}, L"1");
    index();
    encryptedCall("", {leg(L"00000000000000093-2", L"240315170100", L"240315170120", L"20", L"3")}, L"1");
    index();
    EXPECT_EQ(rows("SELECT call_id, legs, seconds, flags FROM calls WHERE call_key = '93'"),
              std::vector<std::string>{"93-1|2|80|0"});
}

TEST_F(Index, OnlyWhatChangedIsReadAndLateCopiesJoinTheirCall) {
    encryptedCall("", {leg(L"00000000000000077-1", L"240315093000", L"240315093115", L"75", L"3")}, L"1");
    encryptedCall("", {leg(L"00000000000000070-1", L"240316093000", L"240316093115", L"75", L"3")}, L"1",
                  "2024_03_16");
    IndexReport report = index();
    EXPECT_EQ(report.filesRead, 6);
    EXPECT_EQ(report.callsAdded, 2);

    report = index();
    EXPECT_EQ(report.filesRead, 0) << "nothing changed";
    EXPECT_EQ(report.callsAdded, 0);

    // The first leg of a new call: that file alone is read, one more row.
    const Leg first = leg(L"00000000000000078-1", L"240315100000", L"240315100010", L"10", L"3");
    append(sw + "/old/CDR_2024_03_15.txt", "", {encryptedLegLine(first)});
    report = index();
    EXPECT_EQ(report.filesRead, 1);
    EXPECT_EQ(report.callsAdded, 1);

    // Its second leg, and a line still being written, which waits for its line end.
    append(sw + "/old/CDR_2024_03_15.txt", "",
           {encryptedLegLine(leg(L"00000000000000078-2", L"240315100010", L"240315100030", L"20", L"4"))});
    {
        std::ofstream out(root_.path() / (sw + "/old/CDR_2024_03_15.txt"), std::ios::binary | std::ios::app);
        out << encryptedLegLine(leg(L"00000000000000079-1", L"240315110000", L"240315110010", L"10", L"3"));
    }
    report = index();
    EXPECT_EQ(report.filesRead, 1);
    EXPECT_EQ(report.callsAdded, 0) << "the second leg joins its call";
    EXPECT_EQ(rows("SELECT legs, seconds, flags FROM calls WHERE call_key = '78'"),
              std::vector<std::string>{"2|30|0"});

    // The merged record comes later, in its own file: still one row, with the legs' sum.
    append(sw + "/new/CDR_2024_03_15.txt", "", {encryptedMergedLine(first, L"2")});
    {
        std::ofstream out(root_.path() / (sw + "/old/CDR_2024_03_15.txt"), std::ios::binary | std::ios::app);
        out << "\r\n";
    }
    report = index();
    EXPECT_EQ(report.filesRead, 2);
    EXPECT_EQ(report.callsAdded, 1) << "the line that waited";
    EXPECT_EQ(rows("SELECT legs, seconds, copies, flags FROM calls WHERE call_key = '78'"),
              std::vector<std::string>{"2|30|1|0"});

    // A file written anew: its day is read anew and its rows replaced.
    const fs::path merged = root_.path() / (sw + "/new/CDR_2024_03_16.txt");
    fs::remove(merged);
    append(sw + "/new/CDR_2024_03_16.txt", textHeader(sw),
           {encryptedMergedLine(leg(L"00000000000000071-1", L"240316093000", L"240316093115", L"75", L"3"), L"1")});
    report = index();
    EXPECT_EQ(report.filesRead, 3) << "the day's three files";
    EXPECT_EQ(rows("SELECT call_key, copies FROM calls WHERE day = '2024-03-16' ORDER BY call_key"),
              (std::vector<std::string>{"70|2", "71|1"}));

    // A file gone: its day without it.
    fs::remove(root_.path() / (sw + "/new/CDR_2024_03_16.csv"));
    fs::remove(root_.path() / (sw + "/old/CDR_2024_03_16.txt"));
    report = index();
    EXPECT_EQ(rows("SELECT call_key FROM calls WHERE day = '2024-03-16'"), std::vector<std::string>{"71"});
    EXPECT_EQ(rows("SELECT count(*) FROM files"), std::vector<std::string>{"4"});
}

TEST_F(Index, RootsAreTheCollectorsOwnAndAMissingOneIsNamed) {
    IndexReport report;
    const std::string missing = root_ / "nowhere";
    const quelvar::Status failed = quelvar::report::updateIndex(database_, {missing}, report);
    EXPECT_FALSE(failed.ok());
    EXPECT_NE(failed.text().find(missing), std::string::npos) << failed.text();

    // Quelvar.ini names a data root; nothing is made for it, and a missing one is left out.
    writeBytes(root_.path() / "Quelvar.ini", "PATH=" + (root_ / "data") + "\r\n");
    EXPECT_EQ(quelvar::report::defaultRoots(root_.path().string()), std::vector<std::string>{root_.path().string()});
    EXPECT_FALSE(fs::exists(root_.path() / "data"));
    fs::create_directories(root_.path() / "data");
    fs::create_directories(root_.path() / "rec");
    EXPECT_EQ(quelvar::report::defaultRoots(root_.path().string()),
              (std::vector<std::string>{root_.path().string(), root_ / "data", root_ / "rec"}));
    const auto before = std::distance(fs::recursive_directory_iterator(root_.path()), {});
    // The rec folder lies under the program folder too: its files count once;
    // a link back up is not followed.
    encryptedCall("rec/", {leg(L"00000000000000077-1", L"240315093000", L"240315093115", L"75", L"3")}, L"1");
    fs::create_directory_symlink(root_.path(), root_.path() / "rec" / sw / "loop");
    ASSERT_TRUE(quelvar::report::updateIndex(database_, quelvar::report::defaultRoots(root_.path().string()), report)
                    .ok());
    EXPECT_EQ(report.filesSeen, 3);
    EXPECT_EQ(report.callsAdded, 1);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(root_.path()), {}), before + 7);
}

}  // namespace

namespace {

TEST_F(Index, AWorkbookThatCannotBeReadStaysInSightUntilItIsGone) {
    writeBytes(root_.path() / "202603.xls", "no workbook");
    // Beside it: the files of a held workbook, never read.
    writeBytes(root_.path() / "202603.xls.queue", "rows");
    writeBytes(root_.path() / ".~lock.202603.xls#", "lock");
    IndexReport report = index();
    EXPECT_EQ(report.filesSeen, 1);
    EXPECT_EQ(report.unparsableLines, 1);
    EXPECT_EQ(rows("SELECT switch, day, flags, substr(text, 1, 18) FROM calls"),
              std::vector<std::string>{"|2026-03-01|2|workbook not read:"});

    writeBytes(root_.path() / "202603.xls", "still no workbook");
    report = index();
    EXPECT_EQ(report.filesRead, 1);
    EXPECT_EQ(rows("SELECT count(*) FROM calls"), std::vector<std::string>{"1"});

    fs::remove(root_.path() / "202603.xls");
    report = index();
    EXPECT_EQ(rows("SELECT count(*) FROM calls"), std::vector<std::string>{"0"});
}

}  // namespace

namespace {

TEST_F(Index, ALegFiledInTheNextDaysFileJoinsTheCallItContinues) {
    // Leg 1 starts before midnight, leg 2 after: each is filed by its own start's date.
    const Leg first = leg(L"00000000000000077-1", L"240315235930", L"240316000030", L"60", L"3");
    const Leg second = leg(L"00000000000000077-2", L"240316000030", L"240316000110", L"40", L"4");
    encryptedCall("", {first}, L"2");
    append(sw + "/old/CDR_2024_03_16.txt", legHeader(sw), {encryptedLegLine(second)});
    encryptedCall("", {leg(L"00000000000000078-1", L"240316080000", L"240316080010", L"10", L"3")}, L"1",
                  "2024_03_16");
    const std::vector<std::string> expected{"77|2024-03-15|2|100|2024-03-16T00:01:10|0",
                                            "78|2024-03-16|1|10|2024-03-16T08:00:10|0"};
    const std::string calls = "SELECT call_key, day, legs, seconds, end, flags FROM calls ORDER BY call_key";
    index();
    EXPECT_EQ(rows(calls), expected);

    // Either day read anew: the legs stay with their call, once.
    writeBytes(root_.path() / (sw + "/new/CDR_2024_03_15.csv"), csvHeader(sw, false));
    EXPECT_EQ(index().filesRead, 3) << "the day read anew";
    EXPECT_EQ(rows(calls), expected);
    writeBytes(root_.path() / (sw + "/old/CDR_2024_03_16.txt"),
               legHeader(sw) + encryptedLegLine(second) + "\r\n" +
                   encryptedLegLine(leg(L"00000000000000078-1", L"240316080000", L"240316080010", L"10", L"3")) +
                   "\r\n");
    index();
    EXPECT_EQ(rows(calls), expected);
    EXPECT_EQ(rows("SELECT count(*) FROM legs"), std::vector<std::string>{"3"});
}

}  // namespace

namespace {

// The daily figures against what a GROUP BY over `calls` gives, table by table.
struct FigureCheck {
    const char* name;
    std::string figures, calls;
};

std::vector<FigureCheck> figureChecks() {
    const std::string day = "substr(COALESCE(start, day), 1, 10)";
    const std::string calls = " FROM calls WHERE (flags & 6) = 0";
    return {
        {"day_numbers",
         "SELECT day, switch, filed, caller, account, category, incoming, calls, seconds, longest FROM day_numbers"
         " ORDER BY 1, 2, 3, 4, 5, 6, 7",
         "SELECT " + day + ", switch, day, caller, account, category, type IN ('IN', 'FI'), count(*), sum(seconds),"
         " max(seconds)" + calls + " GROUP BY 1, 2, 3, 4, 5, 6, 7 ORDER BY 1, 2, 3, 4, 5, 6, 7"},
        {"day_lines",
         "SELECT day, switch, filed, trunk, route, category, incoming, calls, seconds, longest FROM day_lines"
         " ORDER BY 1, 2, 3, 4, 5, 6, 7",
         "SELECT " + day + ", switch, day, trunk, route, category, type IN ('IN', 'FI'), count(*), sum(seconds),"
         " max(seconds)" + calls + " GROUP BY 1, 2, 3, 4, 5, 6, 7 ORDER BY 1, 2, 3, 4, 5, 6, 7"},
        {"day_files", "SELECT switch, filed, first_day, last_day, calls FROM day_files ORDER BY 1, 2",
         "SELECT switch, day, min(" + day + "), max(" + day + "), count(*)" + calls + " GROUP BY 1, 2 ORDER BY 1, 2"},
    };
}

TEST_F(Index, DailyFiguresAreWhatTheCallsGiveAfterEveryKindOfIndexing) {
    const auto call = [](const std::wstring& rid, const std::wstring& start, const std::wstring& seconds,
                         const std::wstring& trunk, const std::wstring& type = L"OU") {
        Leg made = leg(rid, start, start, seconds, trunk);
        made.type = type;
        return made;
    };
    const std::string day16 = sw + "/new/CDR_2024_03_16.txt";
    struct Step {
        const char* what;
        std::function<void()> change;
    };
    const std::vector<Step> steps = {
        {"the first index",
         [&] {
             encryptedCall("", {call(L"101-1", L"240315090000", L"60", L"3")}, L"1");
             encryptedCall("", {call(L"102-1", L"240315100000", L"200", L"4", L"IN")}, L"1");
             // Filed twice: counted once.
             for (int twice = 0; twice < 2; ++twice)
                 encryptedCall("", {call(L"103-1", L"240315110000", L"30", L"3")}, L"1");
             // Two legs over midnight, the second in the next day's file.
             encryptedCall("", {call(L"104-1", L"240315235900", L"60", L"3")}, L"2");
             append(sw + "/old/CDR_2024_03_16.txt", legHeader(sw),
                    {encryptedLegLine(call(L"104-2", L"240316000000", L"45", L"5"))});
             encryptedCall("", {call(L"105-1", L"240316080000", L"10", L"5")}, L"1", "2024_03_16");
             append("00-AA/new/CDR_2024_03_15.txt", textHeader("00:AA"),
                    {plainMergedLine(call(L"106-1", L"240315120000", L"15", L"1"))});
         }},
        {"a file that grew",
         [&] { encryptedCall("", {call(L"107-1", L"240315150000", L"90", L"4")}, L"1"); }},
        {"a later copy only",
         [&] {
             append(sw + "/new/CDR_2024_03_16.csv", "", {encryptedCsvLine(call(L"108-1", L"240316090000", L"5", L"2"),
                                                                          L"呼出", L"IP中继")});
         }},
        {"a day read anew",
         [&] {
             writeBytes(root_.path() / (sw + "/new/CDR_2024_03_15.txt"),
                        textHeader(sw) + encryptedMergedLine(call(L"101-1", L"240315090000", L"61", L"3"), L"1") +
                            "\r\n");
         }},
        {"a file gone", [&] { fs::remove(root_.path() / day16); }},
    };
    for (const Step& step : steps) {
        step.change();
        index();
        for (const FigureCheck& check : figureChecks()) {
            const std::vector<std::string> expected = rows(check.calls);
            EXPECT_FALSE(expected.empty()) << step.what;
            EXPECT_EQ(rows(check.figures), expected) << check.name << " after " << step.what;
        }
    }
    // Made anew from the calls, they are the same.
    const std::vector<std::string> before = rows(figureChecks()[0].figures);
    ASSERT_TRUE(quelvar::report::rebuildFigures(database_).ok());
    EXPECT_EQ(rows(figureChecks()[0].figures), before);
}

// The alerts raised cannot be made again from the files: an index of
// another version is made anew around them.
TEST_F(Index, AnIndexOfAnotherVersionKeepsItsAlerts) {
    ASSERT_EQ(sqlite3_exec(database_, quelvar::report::schemaSql, nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(database_,
                           "PRAGMA user_version = 1;"
                           "INSERT INTO alerts(rule, rule_key, subject, period, raised, text) VALUES "
                           "('long', 'long,*,,1h', '8001', 'p', '2026-11-14T12:00:00', 't');"
                           "INSERT INTO alert_sends(alert, channel, what, next_try) VALUES (1, 'log', 'raised', 'x');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    quelvar::report::IndexReport report;
    ASSERT_TRUE(quelvar::report::updateIndex(database_, {root_.path().string()}, report).ok());
    EXPECT_EQ(rows("PRAGMA user_version"), std::vector<std::string>{std::to_string(quelvar::report::schemaVersion)});
    EXPECT_EQ(rows("SELECT rule, subject FROM alerts"), std::vector<std::string>{"long|8001"});
    EXPECT_EQ(rows("SELECT channel FROM alert_sends"), std::vector<std::string>{"log"});
}

}  // namespace
