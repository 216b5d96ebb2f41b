#include "message/field_map.h"
#include "message/split_text.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

struct ParseCase {
    const wchar_t* text;
    FieldMap expected;
};

TEST(ParseFieldMap, FindsHeadAndPairsAsWritten) {
    const ParseCase cases[] = {
        {L"RECORD:RID=12&ACCOUNT=8001&", {{L"HEAD", L"RECORD"}, {L"RID", L"12"}, {L"ACCOUNT", L"8001"}}},
        {L"RECORD:RID=12&ACCOUNT=8001", {{L"HEAD", L"RECORD"}, {L"RID", L"12"}, {L"ACCOUNT", L"8001"}}},
        // A ':' after the first '=' belongs to a value.
        {L"RID=1&TIME=10:20", {{L"RID", L"1"}, {L"TIME", L"10:20"}}},
        {L"CPN=&CDPN=5&", {{L"CPN", L""}, {L"CDPN", L"5"}}},
        {L"RECORD:A=1&A=2&", {{L"HEAD", L"RECORD"}, {L"A", L"2"}}},
        // A segment without '=' becomes the front of the next key.
        {L"RECORD:A=1&junk&B=2&", {{L"HEAD", L"RECORD"}, {L"A", L"1"}, {L"junk&B", L"2"}}},
        {L"RECORD:A=1&&B=2", {{L"HEAD", L"RECORD"}, {L"A", L"1"}, {L"&B", L"2"}}},
        {L"RECORD:A=1&B", {{L"HEAD", L"RECORD"}, {L"A", L"1"}}},
        {L"hello", {}},
        {L"text:without pairs", {}},
        // Both searches start at the second character.
        {L":A=1&", {{L":A", L"1"}}},
        {L"=A=1&", {{L"=A", L"1"}}},
        {L"record:ID=3&", {{L"HEAD", L"record"}, {L"ID", L"3"}}},
        {L"RECORD:V=a=b:c&", {{L"HEAD", L"RECORD"}, {L"V", L"a=b:c"}}},
        {L"Quelvar startup 2.0.0.10\r\n", {}},
    };
    for (const ParseCase& each : cases) {
        FieldMap fields{{L"STALE", L"x"}};
        parseFieldMap(each.text, fields);
        EXPECT_EQ(fields, each.expected) << "text: " << testing::PrintToString(std::wstring(each.text));
    }
}

TEST(ParseFieldMap, EmptyTextLeavesTheMapAsItWas) {
    FieldMap fields{{L"RID", L"9"}};
    parseFieldMap(L"", fields);
    EXPECT_EQ(fields, (FieldMap{{L"RID", L"9"}}));
}

TEST(ParseFieldMap, KeepsLongHeadsKeysAndValuesWhole) {
    const std::wstring head(100, L'H');
    const std::wstring key(300, L'K');
    const std::wstring value(10000, L'v');
    FieldMap fields;
    parseFieldMap(head + L":" + key + L"=" + value + L"&", fields);
    EXPECT_EQ(fieldValue(fields, L"HEAD"), head);
    EXPECT_EQ(fieldValue(fields, key), value);
}

TEST(ParseFieldMap, AbsentKeyReadsAsEmptyAndKeysAreCaseSensitive) {
    FieldMap fields;
    parseFieldMap(L"RECORD:MAC=00-11&", fields);
    EXPECT_EQ(fieldValue(fields, L"MAC"), L"00-11");
    EXPECT_EQ(fieldValue(fields, L"mac"), L"");
    EXPECT_EQ(fieldValue(fields, L"ID"), L"");
}

TEST(SplitText, CutsAtEveryDelimiter) {
    const struct {
        const wchar_t* text;
        std::vector<std::wstring> parts;
    } cases[] = {
        {L"a\n\nb\n", {L"a", L"", L"b"}},
        {L"\na", {L"", L"a"}},
        {L"a\nb", {L"a", L"b"}},
        {L"abc", {L"abc"}},
        {L"\n", {L""}},
        {L"", {}},
    };
    for (const auto& each : cases) {
        std::vector<std::wstring_view> parts{L"stale"};
        EXPECT_EQ(splitText(each.text, L"\n", parts), each.parts.size());
        EXPECT_EQ(std::vector<std::wstring>(parts.begin(), parts.end()), each.parts)
            << testing::PrintToString(std::wstring(each.text));
    }
    std::vector<std::wstring_view> parts;
    EXPECT_EQ(splitText(L"a,b;c", L",;", parts), 3u);
}

}  // namespace
}  // namespace quelvar
