#include "quelvar_report/reading/record_lines.h"

#include <gtest/gtest.h>

#include "tools/quelvar_report/fixture_lines.h"

using quelvar::report::FiledLine;
using quelvar::report::LineKind;
using quelvar::report::LineRead;
using quelvar::report::readRecordLine;

namespace {

const Leg local{L"00000000000000077-1", L"8001", L"13912345678", L"市话", L"OU", L"240315093000", L"240315093115",
                L"75", L"IP", L"3", L"8001"};
// A four-character teletype, empty caller, trunk and account, no end time.
const Leg sparse{L"00000000000000078-2", L"", L"0044207946", L"国际长途", L"OU", L"240315100000", L"", L"61",
                 L"IP", L"", L""};
// A RID longer than its column pushes the rest of the line on.
const Leg longId{L"123456789012345678901234-1", L"8002", L"110", L"特服电话", L"OU", L"240315100500",
                 L"240315100510", L"10", L"XO", L"12", L"8002"};
// From the err tree: the missing fields shown as "?".
const Leg incomplete{L"00000000000000079-1", L"8003", L"?", L"", L"OU", L"?", L"", L"5", L"IP", L"3", L"8003"};

struct Case {
    const char* name;
    LineKind kind;
    std::string bytes;
    const Leg& expected;
    std::string count;  // the merged text's COUNT
    bool plainLayout;
    bool labels;  // type and route as the CSV's labels
};

TEST(RecordLines, EveryLayoutOfBothWritersIsReadBackAsFiled) {
    const Case cases[] = {
        {"encrypted leg", LineKind::legText, encryptedLegLine(local), local, "", false, false},
        {"encrypted leg, sparse", LineKind::legText, encryptedLegLine(sparse), sparse, "", false, false},
        {"encrypted leg, long RID", LineKind::legText, encryptedLegLine(longId), longId, "", false, false},
        {"encrypted leg, err tree", LineKind::legText, encryptedLegLine(incomplete), incomplete, "", false, false},
        {"encrypted merged", LineKind::mergedText, encryptedMergedLine(local, L"2"), local, "2", false, false},
        {"encrypted merged, sparse", LineKind::mergedText, encryptedMergedLine(sparse, L"1"), sparse, "1", false,
         false},
        {"encrypted merged, long RID", LineKind::mergedText, encryptedMergedLine(longId, L"1"), longId, "1", false,
         false},
        {"encrypted CSV", LineKind::mergedCsv, encryptedCsvLine(local, L"呼出", L"IP中继"), local, "", false, true},
        {"plain merged", LineKind::mergedText, plainMergedLine(local), local, "1", false, false},
        {"plain merged, sparse", LineKind::mergedText, plainMergedLine(sparse), sparse, "1", false, false},
        {"plain CSV", LineKind::mergedCsv, plainCsvLine(local, L"呼出", L"IP中继"), local, "", true, true},
        {"plain leg", LineKind::legText, plainLegLine(local), local, "", true, false},
        {"plain leg, sparse", LineKind::legText, plainLegLine(sparse), sparse, "", true, false},
    };
    const auto utf8 = [](const std::wstring& text) { return quelvar::report::utf8FromGbk(quelvar::toGbk(text)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FiledLine line;
        ASSERT_EQ(readRecordLine(c.kind, c.bytes, 5, line), LineRead::record) << c.bytes;
        const Leg& e = c.expected;
        std::string rid = utf8(e.rid);
        rid.erase(0, std::min(rid.find_first_not_of('0'), rid.find('-') - 1));
        EXPECT_EQ(line.rid, rid);
        EXPECT_EQ(line.caller, utf8(e.cpn));
        EXPECT_EQ(line.callee, utf8(e.cdpn));
        EXPECT_EQ(line.category, utf8(e.teletype));
        EXPECT_EQ(line.type, c.labels ? "呼出" : utf8(e.type));
        EXPECT_EQ(line.route, c.labels ? (e.route == L"IP" ? "IP中继" : "模拟中继") : utf8(e.route));
        EXPECT_EQ(line.start, utf8(e.start));
        EXPECT_EQ(line.end, utf8(e.end));
        EXPECT_EQ(line.duration, utf8(e.duration));
        EXPECT_EQ(line.trunk, utf8(e.trunk));
        EXPECT_EQ(line.account, utf8(e.account));
        EXPECT_EQ(line.count, c.count);
        if (c.kind == LineKind::legText) {
            EXPECT_EQ(line.plainLayout, c.plainLayout);
        }
    }
}

TEST(RecordLines, HeadersAreOnlyWhereTheWriterPutsThemAndBadLinesAreToldApart) {
    FiledLine line;
    EXPECT_EQ(readRecordLine(LineKind::legText, "#2.0.0.10&00-1A-2B-3C-4D-5E", 1, line), LineRead::header);
    const std::string text = textHeader("00-1A");
    const std::string titles = text.substr(text.find('\n') + 1, text.size() - text.find('\n') - 3);
    EXPECT_EQ(readRecordLine(LineKind::mergedText, titles, 2, line), LineRead::header);
    const std::string csv = csvHeader("00-1A", false);
    EXPECT_EQ(readRecordLine(LineKind::mergedCsv, csv.substr(csv.find('\n') + 1, csv.size() - csv.find('\n') - 3), 2,
                             line),
              LineRead::header);
    // The same text further down is no header: it is kept as a line that cannot be read.
    EXPECT_EQ(readRecordLine(LineKind::legText, "#2.0.0.10&00-1A-2B-3C-4D-5E", 7, line), LineRead::unparsable);
    EXPECT_EQ(readRecordLine(LineKind::legText, "   ", 3, line), LineRead::blank);
    EXPECT_EQ(readRecordLine(LineKind::legText, encryptedLegLine(local).substr(0, 60), 3, line),
              LineRead::unparsable);
    EXPECT_EQ(readRecordLine(LineKind::mergedCsv, "77-1,8001,8001", 3, line), LineRead::unparsable);
    EXPECT_EQ(readRecordLine(LineKind::mergedText, quelvar::toGbk(L"乱码 \xFF\x01"), 3, line), LineRead::unparsable);
}

TEST(RecordLines, TimesKeysAndText) {
    using quelvar::report::isoTime;
    EXPECT_EQ(isoTime("240315093000"), "2024-03-15T09:30:00");
    EXPECT_EQ(isoTime("?"), std::nullopt);
    EXPECT_EQ(isoTime("241315093000"), std::nullopt);
    EXPECT_EQ(isoTime("2403150930"), std::nullopt);
    // Days and times that do not exist are no time.
    for (const char* impossible : {"261131100000", "260230100000", "250229100000", "261130256100", "261130235960"})
        EXPECT_EQ(isoTime(impossible), std::nullopt) << impossible;
    EXPECT_EQ(isoTime("240229235959"), "2024-02-29T23:59:59");
    EXPECT_EQ(quelvar::report::callKeyOf("77-2-1"), "77");
    EXPECT_EQ(quelvar::report::legOf("77-2-1"), "2-1");
    EXPECT_EQ(quelvar::report::legOf("77"), "");
    EXPECT_EQ(quelvar::report::utf8FromGbk(quelvar::toGbk(L"国内长途")), "国内长途");
    EXPECT_EQ(quelvar::report::utf8FromGbk("\x81"), "\xEF\xBF\xBD");
}

}  // namespace
