// The forms of an answer: aligned columns, CSV for Excel, JSON strings.
#include <gtest/gtest.h>

#include "quelvar_report/output/output.h"
#include "support/json_reader.h"

namespace {

using quelvar::report::Kind;

TEST(DisplayWidth, WideCharactersTakeTwoColumns) {
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"8001", 4},
        {"国内长途", 8},
        {"市话 IP", 7},
        {"Ａ", 2},                 // fullwidth A
        {"\xEF\xBD\xB1", 1},       // halfwidth katakana
        {"e\xCC\x81", 1},          // e and a combining acute accent
        {"\xFF", 1},               // no UTF-8: shown as one U+FFFD
        {"\xE5\x9B", 2},           // a character cut short: two U+FFFD
        {"\xF0\xA0\x80\x80", 2},   // U+20000, beyond the basic plane
    };
    for (const auto& [text, width] : cases) EXPECT_EQ(quelvar::report::displayWidth(text), width) << text;
}

TEST(Table, ColumnsAlignByDisplayWidthAndNumbersToTheRight) {
    const quelvar::report::Table table{"Calls",
                                       {{"category"}, {"calls", Kind::number}, {"start", Kind::time}},
                                       {{"国内长途", "1", "2026-12-03T09:30:00"}, {"市话", "22", ""}}};
    EXPECT_EQ(quelvar::report::renderTables({table}),
              "Calls\n"
              "category  calls  start\n"
              "--------  -----  -------------------\n"
              "国内长途      1  2026-12-03 09:30:00\n"
              "市话         22\n");
    EXPECT_EQ(quelvar::report::renderTables({{"", {{"a"}}, {}}}), "a\n-\n(none)\n");
}

TEST(Csv, FieldsAreQuotedOnlyWhereNeededAndPhoneNumbersStayText) {
    struct Case {
        std::string value;
        Kind kind;
        std::string field;
    };
    const std::vector<Case> cases = {
        {"95", Kind::number, "95"},
        {"77.5", Kind::number, "77.5"},
        {"8001", Kind::phone, "8001"},
        {"13912345678", Kind::phone, "13912345678"},           // eleven digits Excel shows whole
        {"0755123", Kind::phone, "\"=\"\"0755123\"\"\""},      // a leading zero
        {"008613912345678", Kind::phone, "\"=\"\"008613912345678\"\"\""},
        {"123456789012", Kind::phone, "\"=\"\"123456789012\"\"\""},  // twelve digits: 1.23457E+11
        {"*21#", Kind::phone, "*21#"},
        {"?", Kind::phone, "?"},
        {"", Kind::phone, ""},
        {"0755", Kind::text, "0755"},                          // not a phone column: as it is
        {"国内长途", Kind::text, "国内长途"},
        {"a,b", Kind::text, "\"a,b\""},
        {"say \"hi\"", Kind::text, "\"say \"\"hi\"\"\""},
        {"two\r\nlines", Kind::text, "\"two\r\nlines\""},
        {"\xFF", Kind::text, "\xEF\xBF\xBD"},
        {"2026-12-03T09:30:00", Kind::time, "2026-12-03T09:30:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(quelvar::report::csvField(c.value, c.kind), c.field) << c.value;
}

// Values from the network that a spreadsheet would run as formulas stay text;
// numbers and phone numbers keep reading as they are.
TEST(Csv, CellsThatLookLikeFormulasStayText) {
    struct Case {
        std::string value;
        Kind kind;
        std::string field;
    };
    const std::vector<Case> cases = {
        {"=HYPERLINK(\"http://x\",\"y\")", Kind::text, "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"+1+cmd|' /C calc'!A0", Kind::phone, "'+1+cmd|' /C calc'!A0"},
        {"-2+3", Kind::phone, "'-2+3"},
        {"@SUM(1+1)*cmd|' /C calc'!A0", Kind::text, "'@SUM(1+1)*cmd|' /C calc'!A0"},
        {"\t=1+1", Kind::text, "'\t=1+1"},
        {"\r=1+1", Kind::text, "\"'\r=1+1\""},
        {"=1+1", Kind::number, "'=1+1"},  // a number column holds numbers or text
        {"=1+1", Kind::time, "'=1+1"},
        {"-12.5", Kind::number, "-12.5"},  // a negative amount stays a number
        {"-", Kind::number, "'-"},
        {"+8613912345678", Kind::phone, "\"=\"\"+8613912345678\"\"\""},
        {"+861", Kind::phone, "\"=\"\"+861\"\"\""},
        {"a=b", Kind::text, "a=b"},
    };
    for (const Case& c : cases) EXPECT_EQ(quelvar::report::csvField(c.value, c.kind), c.field) << c.value;
}

TEST(Csv, StartsWithAByteOrderMarkAndEndsLinesWithCrLf) {
    const quelvar::report::Table groups{"Title", {{"组"}, {"calls", Kind::number}}, {{"市话", "2"}}};
    const quelvar::report::Table top{"", {{"number", Kind::phone}}, {{"0755"}}};
    EXPECT_EQ(quelvar::report::renderCsv({groups, top}),
              "\xEF\xBB\xBF"
              "组,calls\r\n市话,2\r\n\r\nnumber\r\n\"=\"\"0755\"\"\"\r\n");
}

TEST(Json, StringsAreEscapedAndValidUtf8) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"国内长途", "国内长途"},
        {"quote \" backslash \\ slash /", "quote \" backslash \\ slash /"},
        {"line\nfeed\rtab\t", "line\nfeed\rtab\t"},
        {std::string("nul\0soh\x01\x1f\x7f", 9), std::string("nul\0soh\x01\x1f\x7f", 9)},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [text, back] : cases) {
        const std::string literal = quelvar::report::jsonString(text);
        const auto value = quelvar::test::JsonReader::read(literal);
        ASSERT_TRUE(value.has_value()) << literal;
        EXPECT_EQ(value->string, back) << literal;
    }
}

}  // namespace
