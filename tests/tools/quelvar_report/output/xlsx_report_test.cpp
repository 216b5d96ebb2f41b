// The bill as an XLSX workbook, read back by programs of others: openpyxl
// (python3-openpyxl) for the cells, formulas and parts, LibreOffice to
// recalculate the formulas.
#include "quelvar_report/output/xlsx_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/outside_readers.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using quelvar::Status;
using quelvar::report::BillGroup;
using quelvar::report::Li;
using quelvar::report::RatedCall;
using quelvar::report::Report;
using quelvar::report::XlsxReport;

// ---- The fixture: five calls of three people, billed by person.

RatedCall rated(std::string switchName, std::string id, std::string caller, std::string callee, std::string category,
                std::string start, std::string day, long long seconds, int legs, std::string person,
                std::string department, Li cost, std::string tariff) {
    RatedCall call;
    call.switchName = std::move(switchName);
    call.callId = std::move(id);
    call.account = call.caller = std::move(caller);
    call.callee = std::move(callee);
    call.category = std::move(category);
    call.start = std::move(start);
    call.day = std::move(day);
    call.seconds = seconds;
    call.legs = legs;
    call.person = call.group = std::move(person);
    call.department = std::move(department);
    call.known = !call.department.empty();
    call.rated = !tariff.empty();
    call.cost = cost;
    call.tariffVersion = std::move(tariff);
    return call;
}

std::vector<RatedCall> fixtureCalls() {
    std::vector<RatedCall> calls = {
        // A callee with a leading zero; two legs.
        rated("00-1A-2B-3C-4D-5E", "77", "8001", "075512345678", "市话", "2026-06-30T09:30:00", "2026-06-30", 95, 2,
              "张伟", "财务部", 300, "2026-01-01"),
        rated("00-1A-2B-3C-4D-5E", "78", "8001", "13912345678", "国内长途", "2026-07-01T10:00:00", "2026-07-01", 60, 1,
              "张伟", "财务部", 700, "2026-07-01"),
        // Fourteen digits, past what a number keeps; over an hour.
        rated("00-1A-2B-3C-4D-5F", "90", "8101", "00441234567890", "国际长途", "2026-07-02T23:59:59", "2026-07-02",
              3725, 3, "欧阳娜娜", "市场营销中心", 12345, "2026-07-01"),
        // A workbook row without a start.
        rated("", "W1", "8101", "075599999999", "市话", "", "2026-07-03", 40, 1, "欧阳娜娜", "市场营销中心", 101,
              "2026-07-01"),
        // No tariff covered it; an id with a control character and a byte that is no UTF-8.
        rated("00-1A-2B-3C-4D-5E", "E\x01\xFF", "8003", "13800000000", "国内长途", "2026-07-04T08:00:00", "2026-07-04",
              50, 1, "8003", "", 0, ""),
    };
    calls.back().unratedWhy = "no rule for 国内长途";
    return calls;
}

// The bill as the rating pass makes it: groups in the order of their names.
Report fixtureReport(const std::vector<RatedCall>& calls) {
    Report report;
    quelvar::report::Bill& bill = report.bill;
    bill.from = "2026-06-15";
    bill.to = "2026-07-15";
    bill.by = "person";
    bill.tariffVersions = {"2026-01-01", "2026-07-01"};
    std::map<std::string, BillGroup> groups;
    for (const RatedCall& call : calls) {
        BillGroup& group = groups[call.group];
        group.name = call.group;
        group.department = call.department;
        group.total.add(call.seconds, call.cost, call.rated);
        group.byCategory[call.category].add(call.seconds, call.cost, call.rated);
        bill.total.add(call.seconds, call.cost, call.rated);
        bill.byCategory[call.category].add(call.seconds, call.cost, call.rated);
    }
    for (auto& [name, group] : groups) bill.groups.push_back(group);
    for (const auto category : quelvar::report::knownCategories)
        if (bill.byCategory.count(std::string(category))) bill.categories.emplace_back(category);
    report.generated = "2026-07-16 08:00";
    return report;
}

Status writeWorkbook(const std::string& path, const std::vector<RatedCall>& calls, const Report& report,
                     std::size_t callsPerSheet = quelvar::report::excelRowsPerSheet - 1) {
    XlsxReport workbook(callsPerSheet);
    workbook.setLook(quelvar::report::Lang::en);
    if (Status opened = workbook.open(path); !opened.ok()) return opened;
    for (const RatedCall& call : calls) workbook.addCall(call);
    return workbook.finish(report);
}

// ---- The workbook as read_xlsx.py sees it.

struct Cell {
    std::string type;  // n, s, d, t, b
    std::string value;
    std::string format;
};

struct Workbook {
    std::vector<std::string> sheets;
    std::string active;
    std::map<std::string, Cell> cells;            // by "Sheet!A1"
    std::map<std::string, std::string> formulas;  // by "Sheet!A1"
    std::map<std::string, std::string> freeze, filter;
    std::set<std::string> parts;
    std::multimap<std::string, std::string> relations;
    std::vector<std::string> chartRanges;
    std::vector<std::string> chartCategories;  // strRef or numRef, a series each

    const Cell* cell(const std::string& sheet, const std::string& name) const {
        const auto found = cells.find(sheet + "!" + name);
        return found == cells.end() ? nullptr : &found->second;
    }
    std::string text(const std::string& sheet, const std::string& name) const {
        const Cell* found = cell(sheet, name);
        if (found == nullptr) return "(empty)";
        return found->type == "s" ? found->value : "(" + found->type + " " + found->value + ")";
    }
    // A number's value; NaN for anything else.
    double number(const std::string& sheet, const std::string& name) const {
        const Cell* found = cell(sheet, name);
        return found != nullptr && (found->type == "n" || found->type == "t") ? std::stod(found->value) : std::nan("");
    }
    bool relates(const std::string& part, const std::string& target) const {
        const auto [first, last] = relations.equal_range(part);
        for (auto it = first; it != last; ++it)
            if (it->second == target) return true;
        return false;
    }
};

std::string scripts() { return QUELVAR_REPORT_TEST_SCRIPTS; }

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') result.emplace_back();
        else if (line[i] == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            result.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else result.back() += line[i];
    }
    return result;
}

// Empty, with `why` saying so, where python3-openpyxl is missing.
std::optional<Workbook> readBack(const std::string& path, std::string& why) {
    std::string output;
    if (outside::run(outside::quoted(outside::python()) + " -c 'import openpyxl'", output) != 0) {
        why = "python3 with openpyxl is not installed (Debian: python3-openpyxl): " + output;
        return std::nullopt;
    }
    const std::string command = "timeout 300 " + outside::quoted(outside::python()) + " " +
                                outside::quoted(scripts() + "/read_xlsx.py") + " " + outside::quoted(path);
    if (outside::run(command, output) != 0) {
        ADD_FAILURE() << "read_xlsx.py could not read " << path << ": " << output;
        why = "openpyxl failed";
        return std::nullopt;
    }
    Workbook book;
    for (std::size_t start = 0; start < output.size();) {
        const std::size_t end = output.find('\n', start);
        const std::vector<std::string> line = fields(output.substr(start, end - start));
        start = end == std::string::npos ? output.size() : end + 1;
        const std::string& kind = line[0];
        if (kind == "sheets") book.sheets.assign(line.begin() + 1, line.end());
        else if (kind == "active" && line.size() == 2) book.active = line[1];
        else if (kind == "cell" && line.size() == 6) book.cells[line[1] + "!" + line[2]] = {line[3], line[4], line[5]};
        else if (kind == "formula" && line.size() == 4) book.formulas[line[1] + "!" + line[2]] = line[3];
        else if (kind == "freeze" && line.size() == 3) book.freeze[line[1]] = line[2];
        else if (kind == "filter" && line.size() == 3) book.filter[line[1]] = line[2];
        else if (kind == "part" && line.size() == 2) book.parts.insert(line[1]);
        else if (kind == "rel" && line.size() == 3) book.relations.emplace(line[1], line[2]);
        else if (kind == "chartref" && line.size() == 3) book.chartRanges.push_back(line[2]);
        else if (kind == "chartcat" && line.size() == 3) book.chartCategories.push_back(line[2]);
        else ADD_FAILURE() << "read_xlsx.py said: " << output.substr(0, 2000);
    }
    return book;
}

Li li(double yuan) { return std::llround(yuan * 1000); }

class XlsxReportTest : public ::testing::Test {
protected:
    void write(std::size_t callsPerSheet = quelvar::report::excelRowsPerSheet - 1) {
        const Status written = writeWorkbook(path, calls, report, callsPerSheet);
        ASSERT_TRUE(written.ok()) << written.text();
    }
    // The workbook read back; skips the test where openpyxl is missing.
    const Workbook& read() {
        std::string why;
        if (!book) book = readBack(path, why);
        if (!book) throw Skip{why};
        return *book;
    }
    struct Skip {
        std::string why;
    };

    TempFolder folder;
    std::string path = folder / "账单 2026-07.xlsx";
    std::vector<RatedCall> calls = fixtureCalls();
    Report report = fixtureReport(calls);
    std::optional<Workbook> book;
};

#define READ_OR_SKIP(book)                             \
    const Workbook* book##Pointer = nullptr;           \
    try {                                              \
        book##Pointer = &read();                       \
    } catch (const Skip& skip) {                       \
        GTEST_SKIP() << skip.why;                      \
    }                                                  \
    const Workbook& book = *book##Pointer

using XlsxBill = XlsxReportTest;
using XlsxCalls = XlsxReportTest;
using XlsxWorkbook = XlsxReportTest;

TEST_F(XlsxWorkbook, HasTheBillFirstAndOpensOnIt) {
    write();
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.sheets, (std::vector<std::string>{"Bill", "Unrated", "Calls"}));
    EXPECT_EQ(workbook.active, "Bill");
}

TEST_F(XlsxBill, TitleNamesThePeriodAndTheTariffs) {
    write();
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.text("Bill", "A1"),
              "Bill 2026-06-15 to 2026-07-15 by person; tariffs of 2026-01-01, 2026-07-01");
    EXPECT_NE(workbook.text("Bill", "A2").find("1 call no tariff covered"), std::string::npos)
        << workbook.text("Bill", "A2");

    report.bill.tariffVersions.clear();
    write();
    book.reset();
    READ_OR_SKIP(again);
    EXPECT_EQ(again.text("Bill", "A1"), "Bill 2026-06-15 to 2026-07-15 by person; no tariff");
}

TEST_F(XlsxBill, HasARowPerGroupAndCachedTotalsEqualTheBills) {
    write();
    READ_OR_SKIP(workbook);
    const std::vector<std::string> header = {"person", "department", "calls", "unrated calls", "duration",
                                             "市话", "国内长途", "国际长途", "total"};
    for (std::size_t i = 0; i < header.size(); ++i)
        EXPECT_EQ(workbook.text("Bill", std::string(1, char('A' + i)) + "4"), header[i]);

    // The groups in the bill's order, each with its department.
    EXPECT_EQ(workbook.text("Bill", "A5"), "8003");
    EXPECT_EQ(workbook.text("Bill", "B5"), "(empty)");
    EXPECT_EQ(workbook.text("Bill", "A6"), "张伟");
    EXPECT_EQ(workbook.text("Bill", "B6"), "财务部");
    EXPECT_EQ(workbook.text("Bill", "A7"), "欧阳娜娜");
    EXPECT_EQ(workbook.text("Bill", "B7"), "市场营销中心");
    EXPECT_EQ(workbook.number("Bill", "C7"), 2);
    EXPECT_EQ(workbook.number("Bill", "D5"), 1);
    // The figures shown to the fen, adding up: 13.446 shows as 13.45, its
    // groups 0.00 + 10.00 + 12.45 (12.446 cut to 12.44 takes the fen left),
    // and within 12.45 the 0.101 and 12.345 as 0.10 and 12.35.
    EXPECT_EQ(li(workbook.number("Bill", "F7")), 100);
    EXPECT_EQ(li(workbook.number("Bill", "H7")), 12350);
    EXPECT_EQ(li(workbook.number("Bill", "I6")), 1000);
    EXPECT_EQ(li(workbook.number("Bill", "I7")), 12450);
    ASSERT_NE(workbook.cell("Bill", "E7"), nullptr);
    EXPECT_EQ(workbook.cell("Bill", "E7")->format, "[h]:mm:ss");
    EXPECT_DOUBLE_EQ(workbook.number("Bill", "E7"), 3765);
    EXPECT_EQ(workbook.cell("Bill", "H7")->format, "0.00");

    // The total row: what the bill says, to the 厘.
    const quelvar::report::Bill& bill = report.bill;
    EXPECT_EQ(workbook.text("Bill", "A8"), "Total");
    EXPECT_EQ(workbook.number("Bill", "C8"), bill.total.calls);
    EXPECT_EQ(workbook.number("Bill", "D8"), bill.total.unrated);
    EXPECT_DOUBLE_EQ(workbook.number("Bill", "E8"), static_cast<double>(bill.total.seconds));
    EXPECT_EQ(li(workbook.number("Bill", "F8")), 400);  // 0.30 + 0.10 shown, of 0.401
    EXPECT_EQ(li(workbook.number("Bill", "G8")), bill.byCategory.at("国内长途").cost);
    EXPECT_EQ(li(workbook.number("Bill", "H8")), 12350);
    EXPECT_EQ(li(workbook.number("Bill", "I8")), 13450);
    EXPECT_EQ(bill.total.cost, 13446);
    EXPECT_EQ(workbook.cell("Bill", "A9"), nullptr);
    // What is shown adds up both ways.
    for (const char* row : {"5", "6", "7", "8"}) {
        Li sum = 0;
        for (const char* col : {"F", "G", "H"}) sum += li(workbook.number("Bill", std::string(col) + row));
        EXPECT_EQ(sum, li(workbook.number("Bill", std::string("I") + row))) << "row " << row;
    }
    for (const char* col : {"F", "G", "H", "I"}) {
        Li sum = 0;
        for (const char* row : {"5", "6", "7"}) sum += li(workbook.number("Bill", std::string(col) + row));
        EXPECT_EQ(sum, li(workbook.number("Bill", std::string(col) + "8"))) << "column " << col;
    }
}

TEST_F(XlsxBill, TotalsAreSumFormulas) {
    write();
    READ_OR_SKIP(workbook);
    const std::map<std::string, std::string> expected = {
        {"Bill!I5", "=SUM(F5:H5)"}, {"Bill!I6", "=SUM(F6:H6)"}, {"Bill!I7", "=SUM(F7:H7)"},
        {"Bill!C8", "=SUM(C5:C7)"}, {"Bill!D8", "=SUM(D5:D7)"}, {"Bill!E8", "=SUM(E5:E7)"},
        {"Bill!F8", "=SUM(F5:F7)"}, {"Bill!G8", "=SUM(G5:G7)"}, {"Bill!H8", "=SUM(H5:H7)"},
        {"Bill!I8", "=SUM(I5:I7)"},
    };
    EXPECT_EQ(workbook.formulas, expected);
}

TEST_F(XlsxBill, HasAChartOfItsCells) {
    write();
    READ_OR_SKIP(workbook);
    // openpyxl does not load charts: the parts and their relationships show one.
    EXPECT_TRUE(workbook.parts.count("xl/charts/chart1.xml"));
    EXPECT_TRUE(workbook.relates("xl/worksheets/_rels/sheet1.xml.rels", "../drawings/drawing1.xml"));
    EXPECT_TRUE(workbook.relates("xl/drawings/_rels/drawing1.xml.rels", "../charts/chart1.xml"));
    EXPECT_FALSE(workbook.parts.count("xl/worksheets/_rels/sheet3.xml.rels"));  // none on Calls
    // A series a category: the groups' names, the category's costs.
    const std::vector<std::string> expected = {
        "Bill!$F$4", "Bill!$A$5:$A$7", "Bill!$F$5:$F$7", "Bill!$G$4", "Bill!$A$5:$A$7", "Bill!$G$5:$G$7",
        "Bill!$H$4", "Bill!$A$5:$A$7", "Bill!$H$5:$H$7",
    };
    EXPECT_EQ(workbook.chartRanges, expected);
    // The groups' names as text, not numbers.
    EXPECT_EQ(workbook.chartCategories, (std::vector<std::string>{"strRef", "strRef", "strRef"}));
}

TEST_F(XlsxCalls, NumbersAreNumbersAndPhoneNumbersText) {
    write();
    READ_OR_SKIP(workbook);
    const std::vector<std::string> header = {"start", "switch", "id", "caller", "person", "department",
                                             "callee", "category", "legs", "duration", "cost (yuan)", "tariff"};
    for (std::size_t i = 0; i < header.size(); ++i)
        EXPECT_EQ(workbook.text("Calls", std::string(1, char('A' + i)) + "1"), header[i]);
    EXPECT_EQ(workbook.freeze.at("Calls"), "A2");
    EXPECT_EQ(workbook.filter.at("Calls"), "A1:L6");

    // Rows in the order the calls came.
    EXPECT_EQ(workbook.text("Calls", "C2"), "77");
    EXPECT_EQ(workbook.text("Calls", "C5"), "W1");
    // A start is a date-time; a call without one has none.
    ASSERT_NE(workbook.cell("Calls", "A2"), nullptr);
    EXPECT_EQ(workbook.cell("Calls", "A2")->type, "d");
    EXPECT_EQ(workbook.cell("Calls", "A2")->value, "2026-06-30T09:30:00");
    EXPECT_EQ(workbook.cell("Calls", "A2")->format, "yyyy-mm-dd hh:mm:ss");
    EXPECT_EQ(workbook.cell("Calls", "A4")->value, "2026-07-02T23:59:59");
    EXPECT_EQ(workbook.cell("Calls", "A5"), nullptr);
    // Every digit of a number, the leading zero too.
    EXPECT_EQ(workbook.text("Calls", "G2"), "075512345678");
    EXPECT_EQ(workbook.text("Calls", "G4"), "00441234567890");
    EXPECT_EQ(workbook.text("Calls", "D2"), "8001");
    EXPECT_EQ(workbook.text("Calls", "B2"), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(workbook.text("Calls", "B5"), "(empty)");
    // Chinese as it was.
    EXPECT_EQ(workbook.text("Calls", "E4"), "欧阳娜娜");
    EXPECT_EQ(workbook.text("Calls", "F4"), "市场营销中心");
    EXPECT_EQ(workbook.text("Calls", "H4"), "国际长途");
    // Legs, durations and costs are numbers.
    EXPECT_EQ(workbook.number("Calls", "I4"), 3);
    EXPECT_EQ(workbook.cell("Calls", "J4")->format, "[h]:mm:ss");
    EXPECT_DOUBLE_EQ(workbook.number("Calls", "J4"), 3725);
    EXPECT_EQ(workbook.cell("Calls", "K4")->format, "0.00");
    EXPECT_EQ(workbook.number("Calls", "K4"), 12.345);
    EXPECT_EQ(workbook.text("Calls", "L4"), "2026-07-01");
    // No tariff: no cost, and why.
    EXPECT_EQ(workbook.cell("Calls", "K6"), nullptr);
    EXPECT_EQ(workbook.text("Calls", "L6"), "unrated: no rule for 国内长途");
    // No control character, and UTF-8 that is valid.
    EXPECT_EQ(workbook.text("Calls", "C6"), "E?\xEF\xBF\xBD");
}

TEST_F(XlsxCalls, GoOnOnTheNextSheetWhenOneIsFull) {
    write(2);
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.sheets, (std::vector<std::string>{"Bill", "Unrated", "Calls", "Calls (2)", "Calls (3)"}));
    EXPECT_EQ(workbook.active, "Bill");
    const std::vector<std::pair<std::string, std::string>> ids = {
        {"Calls!C2", "77"}, {"Calls!C3", "78"}, {"Calls (2)!C2", "90"},
        {"Calls (2)!C3", "W1"}, {"Calls (3)!C2", "E?\xEF\xBF\xBD"}};
    for (const auto& [where, id] : ids) {
        ASSERT_TRUE(workbook.cells.count(where)) << where;
        EXPECT_EQ(workbook.cells.at(where).value, id) << where;
    }
    for (const std::string sheet : {"Calls", "Calls (2)", "Calls (3)"}) {
        EXPECT_EQ(workbook.text(sheet, "G1"), "callee") << sheet;
        EXPECT_EQ(workbook.freeze.at(sheet), "A2") << sheet;
        EXPECT_EQ(workbook.cell(sheet, "C4"), nullptr) << sheet;
    }
    EXPECT_EQ(workbook.filter.at("Calls"), "A1:L3");
    EXPECT_EQ(workbook.filter.at("Calls (3)"), "A1:L2");
    // The bill is the bill of every call all the same.
    EXPECT_EQ(li(workbook.number("Bill", "I8")), 13450);  // 13.446 shown to the fen
}

TEST_F(XlsxWorkbook, APeriodWithoutCallsHasItsSheetsAndZeroTotals) {
    calls.clear();
    report = fixtureReport(calls);
    write();
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.sheets, (std::vector<std::string>{"Bill", "Unrated", "Calls"}));
    EXPECT_EQ(workbook.text("Bill", "A5"), "Total");
    EXPECT_EQ(workbook.number("Bill", "C5"), 0);
    EXPECT_EQ(workbook.number("Bill", "E5"), 0);
    EXPECT_EQ(workbook.text("Bill", "F4"), "total");
    EXPECT_EQ(workbook.number("Bill", "F5"), 0);
    EXPECT_EQ(workbook.formulas.at("Bill!F5"), "=0");
    EXPECT_EQ(workbook.text("Calls", "A1"), "start");
    EXPECT_EQ(workbook.cell("Calls", "A2"), nullptr);
    EXPECT_FALSE(workbook.parts.count("xl/charts/chart1.xml"));
}

// ---- Failures: a Status with a reason, never a crash.

TEST(XlsxFailure, AFolderThatIsNotThereFailsAtOpen) {
    TempFolder folder;
    XlsxReport workbook;
    const Status opened = workbook.open(folder / "missing/bill.xlsx");
    EXPECT_TRUE(opened.is(Status::Code::notFound)) << opened.text();
    EXPECT_NE(opened.text().find(folder / "missing/bill.xlsx"), std::string::npos) << opened.text();
    EXPECT_FALSE(opened.reason().empty());
    // The calls and the bill after it change nothing.
    for (const RatedCall& call : fixtureCalls()) workbook.addCall(call);
    const Status finished = workbook.finish(fixtureReport(fixtureCalls()));
    EXPECT_FALSE(finished.ok());
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST(XlsxFailure, AFileInThePlaceOfTheFolderFailsAtOpen) {
    TempFolder folder;
    writeBytes(folder / "file", "x");
    XlsxReport workbook;
    const Status opened = workbook.open(folder / "file/bill.xlsx");
    EXPECT_FALSE(opened.ok());
    EXPECT_FALSE(opened.reason().empty()) << opened.text();
}

TEST(XlsxFailure, AFolderGoneBeforeTheEndFailsAtFinishWithTheLibrarysReason) {
    TempFolder folder;
    const std::string inner = folder / "out";
    fs::create_directory(inner);
    XlsxReport workbook;
    ASSERT_TRUE(workbook.open(inner + "/bill.xlsx").ok());
    const std::vector<RatedCall> calls = fixtureCalls();
    for (const RatedCall& call : calls) workbook.addCall(call);
    fs::remove_all(inner);
    const Status finished = workbook.finish(fixtureReport(calls));
    ASSERT_FALSE(finished.ok());
    EXPECT_NE(finished.reason().find("Error creating output xlsx file"), std::string::npos) << finished.text();
    EXPECT_NE(finished.text().find(inner + "/bill.xlsx"), std::string::npos) << finished.text();
    EXPECT_FALSE(fs::exists(inner));
}

TEST(XlsxFailure, AWorkbookLeftUnfinishedIsLetGo) {
    TempFolder folder;
    {
        XlsxReport workbook;
        ASSERT_TRUE(workbook.open(folder / "bill.xlsx").ok());
        for (const RatedCall& call : fixtureCalls()) workbook.addCall(call);
        EXPECT_EQ(workbook.calls(), 5);
    }
    // Nothing but the empty file open made, no temporary file left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"bill.xlsx"});
    EXPECT_EQ(fs::file_size(folder / "bill.xlsx"), 0u);

    XlsxReport never;
    EXPECT_FALSE(never.finish(Report{}).ok());
}

// ---- For a Chinese office: headings, the unrated calls, printing.

// A part of the workbook's zip, as text.
std::string part(const std::string& path, const std::string& name) {
    std::string output;
    outside::run(outside::quoted(outside::python()) + " -c 'import sys, zipfile; "
                 "sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())' " +
                     outside::quoted(path) + " " + outside::quoted(name),
                 output);
    return output;
}

TEST_F(XlsxWorkbook, IsChineseUnlessToldAndListsTheUnratedCalls) {
    XlsxReport chinese;
    chinese.setLook(quelvar::report::Lang::zh, true);
    ASSERT_TRUE(chinese.open(path).ok());
    for (const RatedCall& call : calls) chinese.addCall(call);
    ASSERT_TRUE(chinese.finish(report).ok());
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.sheets, (std::vector<std::string>{"账单", "未计费", "通话", "市场营销中心", "财务部",
                                                         "未登记"}));
    const std::vector<std::string> header = {"姓名", "部门", "通话次数", "未计费", "时长", "市话", "国内长途", "国际长途", "合计"};
    for (std::size_t i = 0; i < header.size(); ++i)
        EXPECT_EQ(workbook.text("账单", std::string(1, char('A' + i)) + "4"), header[i]);
    EXPECT_EQ(workbook.text("账单", "A8"), "合计");
    EXPECT_EQ(workbook.text("通话", "A1"), "开始时间");
    // The unrated call, with the key explain takes and the reason.
    EXPECT_EQ(workbook.text("未计费", "A1"), "编号");
    EXPECT_EQ(workbook.text("未计费", "A2"), "E?\xEF\xBF\xBD");
    EXPECT_EQ(workbook.text("未计费", "J2"), "no rule for 国内长途");
    EXPECT_EQ(workbook.cell("未计费", "A3"), nullptr);
    // A department's own sheet: its people adding up, and the line to sign.
    EXPECT_EQ(workbook.text("市场营销中心", "A5"), "欧阳娜娜");
    EXPECT_EQ(workbook.text("市场营销中心", "B5"), "8101");
    EXPECT_EQ(li(workbook.number("市场营销中心", "H5")), 12450);
    EXPECT_EQ(workbook.formulas.at("市场营销中心!H6"), "=SUM(H5:H5)");
    EXPECT_NE(workbook.text("财务部", "A9").find("部门负责人签字"), std::string::npos) << workbook.text("财务部", "A9");
}

TEST_F(XlsxWorkbook, ADepartmentsSheetHasANameExcelTakes) {
    // Names Excel would refuse: the same but for case, too long, characters
    // it keeps out, the name of a sheet there already.
    const std::string longName = "Department of Very Long Names/Section A";
    const std::vector<std::string> departments = {"Odd", "odd", longName, longName + " 2", "'quoted'", "Calls", ""};
    std::vector<RatedCall> many;
    for (std::size_t i = 0; i < departments.size(); ++i) {
        RatedCall call = calls.front();
        call.department = departments[i];
        call.person = "P" + std::to_string(i);
        call.known = true;
        many.push_back(call);
    }
    XlsxReport workbook(quelvar::report::excelRowsPerSheet - 1);
    workbook.setLook(quelvar::report::Lang::en, true);
    ASSERT_TRUE(workbook.open(path).ok());
    for (const RatedCall& call : many) workbook.addCall(call);
    const Status finished = workbook.finish(report);
    ASSERT_TRUE(finished.ok()) << finished.text();
    READ_OR_SKIP(read);
    EXPECT_EQ(read.sheets, (std::vector<std::string>{"Bill", "Unrated", "Calls", "_'quoted_", "(no department)",
                                                     "Calls (2)", "Department of Very Long Names_S",
                                                     "Department of Very Long Nam (2)", "Odd", "odd (2)"}));
}

TEST_F(XlsxWorkbook, PrintsOnA4PortraitOnePageWideWithItsHeadingOnEveryPage) {
    write();
    READ_OR_SKIP(workbook);
    EXPECT_EQ(workbook.freeze.at("Bill"), "B5");
    for (int sheet = 1; sheet <= 3; ++sheet) {
        const std::string xml = part(path, "xl/worksheets/sheet" + std::to_string(sheet) + ".xml");
        EXPECT_NE(xml.find("paperSize=\"9\""), std::string::npos) << sheet << xml.substr(0, 400);
        EXPECT_EQ(xml.find("orientation=\"landscape\""), std::string::npos) << sheet;
        EXPECT_NE(xml.find("fitToHeight=\"0\""), std::string::npos) << sheet;
        EXPECT_NE(xml.find("<pane "), std::string::npos) << sheet << ": frozen";
    }
    const std::string names = part(path, "xl/workbook.xml");
    EXPECT_NE(names.find("<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"0\">Bill!$4:$4"), std::string::npos)
        << names;
    // The id's column as wide as the longest id: it never runs into the caller.
    const std::string sheet = part(path, "xl/worksheets/sheet3.xml");
    EXPECT_NE(sheet.find("<col min=\"3\" max=\"3\""), std::string::npos) << sheet.substr(0, 800);
}

// ---- LibreOffice recalculates the formulas.

TEST_F(XlsxBill, LibreOfficeRecalculatesTheCachedTotals) {
    if (!fs::exists(outside::libreOffice()))
        GTEST_SKIP() << "LibreOffice (" << outside::libreOffice()
                     << ") is not installed (Debian: libreoffice-calc-nogui)";
    write();
    READ_OR_SKIP(workbook);
    // A copy whose cached results are all -1: totals right in what LibreOffice
    // saves from it are its own.
    const std::string stale = folder / "stale.xlsx";
    std::string output;
    ASSERT_EQ(outside::run(outside::quoted(outside::python()) + " " + outside::quoted(scripts() + "/read_xlsx.py") +
                               " --stale " + outside::quoted(path) + " " + outside::quoted(stale),
                           output),
              0)
        << output;
    // A profile of its own, told to recalculate every Excel workbook it loads.
    const fs::path profile = folder.path() / "profile";
    fs::create_directories(profile / "user");
    writeBytes(profile / "user" / "registrymodifications.xcu",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
               "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
               "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"OOXMLRecalcMode\" "
               "oor:op=\"fuse\"><value>0</value></prop></item>\n"
               "</oor:items>\n");
    const std::string command = "timeout 300 " + outside::quoted(outside::libreOffice()) +
                                " --headless --norestore -env:UserInstallation=file://" + profile.string() +
                                " --convert-to xlsx --outdir " + outside::quoted(folder / "out") + " " +
                                outside::quoted(stale);
    ASSERT_EQ(outside::run(command, output), 0) << output;
    std::string why;
    const std::optional<Workbook> recalculated = readBack(folder / "out/stale.xlsx", why);
    ASSERT_TRUE(recalculated) << why << output;
    for (const auto& [where, text] : workbook.formulas) {
        const std::string sheet = where.substr(0, where.find('!'));
        const std::string name = where.substr(where.find('!') + 1);
        const double cached = workbook.number(sheet, name);
        const double again = recalculated->number(sheet, name);
        EXPECT_NE(again, -1) << where << " " << text << ": LibreOffice kept the cached result";
        EXPECT_NEAR(again, cached, 1e-9) << where << " " << text;
        EXPECT_EQ(li(again), li(cached)) << where << " " << text;
    }
    EXPECT_EQ(li(recalculated->number("Bill", "I8")), quelvar::report::fenRounded(report.bill.total.cost) * 10);
}

}  // namespace
