// Who a call belongs to and what it is billed as: a record the file carries
// the previous teletype for is classified by its own number, as the
// collector classifies numbers; a person is a directory entry (or an id),
// with a row per department; unlisted extensions are one group, last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filing/classification.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/reading/csv_file.h"
#include "support/temp_folder.h"

namespace {

using quelvar::report::BillGroup;
using quelvar::report::CallCategories;
using quelvar::report::Directory;
using quelvar::report::RatedCall;
using quelvar::report::ReportBuilder;

TEST(CallCategories, ACarriedTeletypeGivesWayToTheNumbersOwn) {
    TempFolder folder;
    writeBytes(folder / "tele.ini", "110\r\n95xxx\r\n");
    writeBytes(folder / "Quelvar.ini", "AREACODE=0755\r\n");
    const CallCategories categories = CallCategories::ofProgramFolder(folder.path().string());
    struct Case {
        std::string route, type, caller, callee, filed;
        std::string billed;
        bool fromNumber;
    };
    const std::vector<Case> cases = {
        // The collector's rules name these: as filed, whatever the number.
        {"IP", "OU", "8001", "13912345678", "国际长途", "国际长途", false},
        {"XO", "IN", "13912345678", "8001", "市话", "市话", false},
        {"IP", "LO", "8001", "8002", "内线", "内线", false},
        {"IC", "FW", "8001", "0014155550100", "内线", "内线", false},
        // Carried from the call before: the number's own.
        {"IP", "FW", "8001", "13912345678", "国际长途", "市话", true},
        {"IP", "FW", "8001", "0014155550100", "内线", "国际长途", true},
        {"IP", "FW", "8001", "1795100852123", "市话", "国际长途", true},
        {"IP", "FW", "8001", "01088888888", "市话", "国内长途", true},
        {"IP", "FW", "8001", "075512345678", "国内长途", "市话", true},
        {"IP", "FW", "8001", "013912345678", "市话", "国内长途", true},
        {"IP", "FW", "8001", "95533", "市话", "特服电话", true},
        {"IP", "FW", "8001", "110", "国内长途", "特服电话", true},
        {"IP", "XX", "8001", "26543210", "国际长途", "市话", true},
        {"IP", "", "8001", "0014155550100", "", "国际长途", true},
        // Forwarded in: classified by the calling number, as an incoming call is.
        {"IP", "FI", "0014155550100", "8001", "市话", "国际长途", true},
    };
    // The collector's own classifier, as it would classify the number of an
    // outgoing call, agrees.
    quelvar::Classifier collector(L"0755", folder / "tele.ini");
    const std::vector<std::pair<std::string, std::wstring>> names = {
        {"市话", L"市话"}, {"国内长途", L"国内长途"}, {"国际长途", L"国际长途"}, {"特服电话", L"特服电话"}};
    for (const Case& c : cases) {
        const CallCategories::Decision decided = categories.decide(c.route, c.type, c.caller, c.callee, c.filed);
        EXPECT_EQ(decided.category, c.billed) << c.type << " " << c.callee;
        EXPECT_EQ(decided.fromNumber, c.fromNumber) << c.type << " " << c.callee;
        if (!c.fromNumber) continue;
        const std::string& number = c.type == "FI" ? c.caller : c.callee;
        EXPECT_EQ(decided.number, number);
        const std::wstring_view filed =
            collector.classifyTeletype(L"IP", L"OU", L"8001", std::wstring(number.begin(), number.end()));
        for (const auto& [name, wide] : names)
            if (wide == filed) {
                EXPECT_EQ(decided.category, name) << number;
            }
    }
    // Without the collector's settings: no area code, no special numbers.
    EXPECT_EQ(CallCategories().decide("IP", "FW", "8001", "95533", "国际长途").category, "市话");
}

Directory directoryOf(const std::string& text) {
    std::vector<quelvar::report::CsvRow> rows;
    std::string failure;
    EXPECT_TRUE(quelvar::report::parseCsv(text, rows, failure).ok()) << failure;
    Directory directory;
    const quelvar::Status read = Directory::fromRows("directory.csv", rows, directory);
    EXPECT_TRUE(read.ok()) << read.text();
    return directory;
}

TEST(Directory, APersonIsAnEntryOrAnId) {
    // Without an id: one person per switch, number and name; the id column,
    // where there is one, may come after a note.
    for (const std::string& header : {std::string("switch,number,name,department,valid_from\n"),
                                      std::string("switch,number,name,department,valid_from,note,id\n")}) {
        const bool ids = header.find(",id") != std::string::npos;
        const Directory directory = directoryOf(header +
                                                "*,8101,张伟,内科,,,E1\n"
                                                "*,8201,张伟,外科,,,E2\n"
                                                "*,8301,李娜,内科,,,E3\n"
                                                "*,8301,李娜,外科,2026-12-10,,E3\n"
                                                "*,8401,李娜,外科,2026-12-10,moved here,E3\n");
        const auto who = [&](const std::string& number, const std::string& day) {
            const auto* person = directory.find("", number, day);
            EXPECT_NE(person, nullptr) << number;
            return person ? person->key : std::string();
        };
        EXPECT_NE(who("8101", "2026-12-01"), who("8201", "2026-12-01")) << "namesakes are two";
        EXPECT_EQ(who("8301", "2026-12-01"), who("8301", "2026-12-11")) << "a move keeps the person";
        // The same id on another number: the same person; without ids a
        // line of another number is someone else.
        EXPECT_EQ(who("8301", "2026-12-01") == who("8401", "2026-12-11"), ids);
        EXPECT_EQ(directory.find("", "8301", "2026-12-11")->department, "外科");
        EXPECT_EQ(directory.find("", "8301", "2026-12-11")->id, ids ? "E3" : "");
    }
}

RatedCall call(const std::string& number, const std::string& person, const std::string& key,
               const std::string& department, bool known, long long cost, const std::string& by) {
    RatedCall made;
    made.caller = made.number = number;
    made.person = person;
    made.personKey = key;
    made.department = department;
    made.known = known;
    made.rated = true;
    made.cost = cost;
    made.category = "市话";
    made.day = "2026-12-01";
    made.seconds = 60;
    made.group = by == "person" ? key + '\x1f' + quelvar::report::departmentShown(made)
                                : by == "department" ? quelvar::report::departmentShown(made) : number;
    return made;
}

std::vector<std::string> rows(const std::string& by, const std::string& sort) {
    ReportBuilder builder("2026-12-01", "2026-12-31", by, sort);
    for (const RatedCall& c : {call("8101", "张伟", "a", "内科", true, 100, by), call("8201", "张伟", "b", "外科", true, 500, by),
                               call("8102", "张伟", "c", "内科", true, 300, by), call("8301", "李娜", "d", "内科", true, 200, by),
                               call("8301", "李娜", "d", "外科", true, 50, by), call("8301", "李娜", "d", "外科", true, 50, by),
                               call("8601", "8601", "8601", "", false, 900, by), call("8501", "8501", "8501", "", false, 10, by)})
        builder.add(c);
    const quelvar::report::Report report = builder.finish("2026-12-31 10:00");
    std::vector<std::string> shown;
    for (const BillGroup& group : report.bill.groups) {
        std::string extensions;
        for (const std::string& number : group.extensions) extensions += " " + number;
        shown.push_back(group.name + "|" + group.department + "|" + std::to_string(group.total.cost) + "|" + extensions);
    }
    return shown;
}

TEST(BillGroups, PeopleAreToldApartAndTheUnlistedComeLast) {
    using Rows = std::vector<std::string>;
    // By person: a row per person and department; a name two people share
    // says whose extension; each unlisted extension a row of its own, last.
    EXPECT_EQ(rows("person", "cost"), (Rows{"张伟 (8201)|外科|500| 8201", "张伟 (8102)|内科|300| 8102", "李娜|内科|200| 8301",
                                           "张伟 (8101)|内科|100| 8101", "李娜|外科|100| 8301", "8601|未登记|900| 8601",
                                           "8501|未登记|10| 8501"}));
    EXPECT_EQ(rows("person", "calls").front(), "李娜|外科|100| 8301");
    EXPECT_EQ(rows("person", "name"), (Rows{"张伟 (8101)|内科|100| 8101", "张伟 (8102)|内科|300| 8102",
                                           "张伟 (8201)|外科|500| 8201", "李娜|内科|200| 8301", "李娜|外科|100| 8301",
                                           "8501|未登记|10| 8501", "8601|未登记|900| 8601"}));
    // By department: the unlisted as one group, last, its extensions kept.
    EXPECT_EQ(rows("department", "cost"), (Rows{"内科||600|", "外科||600|", "未登记||910| 8501 8601"}));
    EXPECT_EQ(rows("ext", "cost").front(), "8601||900|");
}

}  // namespace
