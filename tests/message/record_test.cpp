#include "message/record.h"

#include <gtest/gtest.h>

#include "message/datagram.h"
#include "message/field_map.h"

namespace quelvar {
namespace {

// A record and the whole map of the same text must read alike: they are the
// one grammar, read once for the collector and whole for the tools.
void expectReadAlike(std::wstring_view text) {
    Record record;
    parseRecord(text, record);
    FieldMap fields;
    parseFieldMap(text, fields);
    const std::wstring label = L"text: " + std::wstring(text);
    EXPECT_EQ(record.hasHead, fields.contains(L"HEAD")) << testing::PrintToString(label);
    EXPECT_EQ(std::wstring(record.head), fieldValue(fields, L"HEAD")) << testing::PrintToString(label);
    for (std::size_t index = 0; index < fieldCount; ++index)
        EXPECT_EQ(std::wstring(record.values[index]), fieldValue(fields, fieldKeys[index]))
            << testing::PrintToString(label) << " key " << testing::PrintToString(std::wstring(fieldKeys[index]));
}

TEST(ParseRecord, ReadsAsTheFieldMapDoes) {
    for (const wchar_t* text : {
             L"RECORD:ID=41&RID=77-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A&"
             L"TIME-S=240315093000&TIME-E=240315093115&DURATION=75&TRUNKN=3&COUNT=2&CBID=9&TIME=11-01 10:20:30&",
             L"RECORD:RID=12&ACCOUNT=8001",
             L"RID=1&TIME=10:20",
             L"RECORD:A=1&junk&RID=2&",
             L"RECORD:RID=1&RID=2&",
             L"RECORD:HEAD=x&MAC=1&",
             L"abc:HEAD=RECORD&MAC=00&ID=5",
             L"record:ID=3&",
             L"hello",
             L":A=1&",
             L"RECORD:RID=5\nRECORD:RID=6-1&",
         })
        expectReadAlike(text);
}

TEST(ParseRecord, OnlyTheHeadRecordInCapitalsIsARecord) {
    const struct {
        const wchar_t* text;
        bool record;
    } cases[] = {
        {L"RECORD:MAC=1&", true},
        {L"record:MAC=1&", false},
        {L"MAC=1&", false},
        // A pair named HEAD stands for the head.
        {L"RECORD:HEAD=x&MAC=1&", false},
        {L"abc:HEAD=RECORD&MAC=1&", true},
    };
    for (const auto& each : cases) {
        Record record;
        parseRecord(each.text, record);
        EXPECT_EQ(record.isRecord(), each.record) << testing::PrintToString(std::wstring(each.text));
    }
}

TEST(ParseRecord, EmptyTextLeavesTheRecordAsItWas) {
    Record record;
    parseRecord(L"RECORD:RID=9&", record);
    parseRecord(L"", record);
    EXPECT_EQ(record[Field::rid], L"9");
    parseRecord(L"hello", record);
    EXPECT_EQ(record[Field::rid], L"");
}

TEST(DecodeDatagram, TakesTheRidOfTheWholeTextAndEachLine) {
    const struct {
        const wchar_t* text;
        const wchar_t* rid;
        std::size_t lines;
    } cases[] = {
        // Each later line's first key takes in the line feed and its head.
        {L"RECORD:RID=77-1&A=1&\nRECORD:RID=77-2&", L"77-1", 2},
        // A RID further on in its line: the last line's counts.
        {L"RECORD:ID=1&RID=5-1&\nRECORD:ID=2&RID=6-1&", L"6-1", 2},
        // Without a closing "&" a value runs on across the line feed.
        {L"RECORD:RID=5\nRECORD:RID=6-1&", L"5\nRECORD:RID=6-1", 2},
        {L"RECORD:RID=1-1&\n\nRECORD:RID=1-2&\n", L"1-1", 3},
    };
    Datagram datagram;
    for (const auto& each : cases) {
        decodeDatagram(each.text, datagram);
        EXPECT_EQ(datagram.rid, each.rid) << testing::PrintToString(std::wstring(each.text));
        ASSERT_EQ(datagram.lines.size(), each.lines);
    }
    EXPECT_EQ(datagram.lines[1].text, L"");
    EXPECT_FALSE(datagram.lines[1].record.hasHead) << "an empty line is an empty record";
    EXPECT_EQ(datagram.lines[2].record[Field::rid], L"1-2");
}

TEST(IsRecordDatagram, AnyLetterCaseOfTheHead) {
    EXPECT_TRUE(isRecordDatagram(L"RECORD:"));
    EXPECT_TRUE(isRecordDatagram(L"record:x"));
    EXPECT_TRUE(isRecordDatagram(L"ReCoRd:"));
    EXPECT_FALSE(isRecordDatagram(L"RECORD"));
    EXPECT_FALSE(isRecordDatagram(L"RECORDS:"));
    EXPECT_FALSE(isRecordDatagram(L""));
}

TEST(HasMoreLinesThan, CountsLinesAsTheDecoderSplitsThemWithAClosingLineFeedFree) {
    const struct {
        const char* text;
        std::size_t limit;
        bool more;
    } cases[] = {
        {"", 1, false},       {"a", 1, false},        {"a\n", 1, false}, {"a\nb", 1, true},
        {"a\nb\n", 2, false}, {"a\n\n", 1, true},    {"\n\n", 2, false}, {"a\r\nb\r\n", 2, false},
        {"a\nb\nc", 2, true}, {"a\nb\nc", 3, false},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(hasMoreLinesThan(std::string_view(each.text), each.limit), each.more) << testing::PrintToString(each.text);
        const std::string narrow(each.text);
        EXPECT_EQ(hasMoreLinesThan(std::wstring(narrow.begin(), narrow.end()), each.limit), each.more);
    }
}

}  // namespace
}  // namespace quelvar
