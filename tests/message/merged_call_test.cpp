#include "message/merged_call.h"

#include <gtest/gtest.h>

#include <vector>

#include "message/field_map.h"
#include "support/time_zone.h"

namespace quelvar {
namespace {

// The merged call written out as the record text a switch's newer format
// uses, every key in its place.
std::wstring mergedText(const std::vector<std::wstring>& parts) {
    std::vector<DatagramLine> lines(parts.size());
    for (std::size_t index = 0; index < parts.size(); ++index) {
        lines[index].text = parts[index];
        parseRecord(lines[index].text, lines[index].record);
    }
    MergedCall call;
    mergeCall(lines, CalendarTime{2024, 6, 1, 12, 0, 0}, call);
    std::wstring text = L"RECORD:RID=" + std::wstring(call.rid) + L"&ACCOUNT=" + std::wstring(call.account) +
                        L"&CPN=" + std::wstring(call.cpn) + L"&COUNT=" + call.count + L"&CDPN=" +
                        std::wstring(call.cdpn) + L"&TYPE=" + std::wstring(call.type) + L"&ROUTE=" +
                        std::wstring(call.route) + L"&MAC=" + std::wstring(call.mac) + L"&";
    for (std::size_t index = 0; index < MergedCall::legCount; ++index) {
        const std::wstring number = index == 0 ? L"" : std::to_wstring(index);
        const MergedCall::Leg& leg = call.legs[index];
        text += L"TIME-S" + number + L"=" + std::wstring(leg.start) + L"&TIME-E" + number + L"=" + leg.end +
                L"&DURATION" + number + L"=" + std::wstring(leg.duration) + L"&TRUNKN" + number + L"=" +
                std::wstring(leg.trunk) + L"&";
    }
    return text;
}

FieldMap merged(const std::vector<std::wstring>& parts) {
    FieldMap fields;
    parseFieldMap(mergedText(parts), fields);
    return fields;
}

TEST(MergeCall, TwoLegsGiveCommonFieldsCountAndLegs) {
    ScopedTimeZone zone("CST-8");
    const std::wstring text = mergedText({
        L"RECORD:ID=41&RID=77-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&"
        L"TIME-S=240315093000&DURATION=75&TRUNKN=3&",
        L"RECORD:ID=42&RID=77-2&ACCOUNT=8002&CPN=8002&CDPN=0755&TYPE=IN&ROUTE=XO&MAC=00-00&"
        L"TIME-S=240315093115&DURATION=20&TRUNKN=5&",
    });
    EXPECT_EQ(text,
              L"RECORD:RID=77-1&ACCOUNT=8001&CPN=8001&COUNT=2&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00-1A-2B-3C-4D-5E&"
              L"TIME-S=240315093000&TIME-E=240315093115&DURATION=75&TRUNKN=3&TIME-S1=240315093115&"
              L"TIME-E1=240315093135&DURATION1=20&TRUNKN1=5&TIME-S2=&TIME-E2=&DURATION2=&TRUNKN2=&TIME-S3=&"
              L"TIME-E3=&DURATION3=&TRUNKN3=&TIME-S4=&TIME-E4=&DURATION4=&TRUNKN4=&");
}

TEST(MergeCall, FillsEachFieldFromTheFirstLineThatHasIt) {
    const FieldMap fields = merged({
        L"RECORD:RID=1-1&CBID=9-9&TYPE=CB&CPN=&TIME-S=240101000000&DURATION=1&",
        L"RECORD:RID=2-2&TYPE=OU&CPN=8002&ACCOUNT=7&MAC=AA&",
    });
    EXPECT_EQ(fieldValue(fields, L"RID"), L"9-9");
    EXPECT_EQ(fieldValue(fields, L"TYPE"), L"CB");
    EXPECT_EQ(fieldValue(fields, L"CPN"), L"8002");
    EXPECT_EQ(fieldValue(fields, L"ACCOUNT"), L"7");
    EXPECT_EQ(fieldValue(fields, L"MAC"), L"AA");
    EXPECT_EQ(fieldValue(fields, L"COUNT"), L"2");
}

TEST(MergeCall, KeepsTheLegsOfTheFirstFiveLinesAndRepeatsALegForAnEmptyLine) {
    std::vector<std::wstring> parts;
    for (int index = 0; index < 7; ++index)
        parts.push_back(L"RECORD:RID=5-" + std::to_wstring(index) + L"&TIME-S=24010100000" +
                        std::to_wstring(index) + L"&DURATION=1&TRUNKN=" + std::to_wstring(index) + L"&");
    FieldMap fields = merged(parts);
    EXPECT_EQ(fieldValue(fields, L"COUNT"), L"7");
    EXPECT_EQ(fieldValue(fields, L"TRUNKN"), L"0");
    EXPECT_EQ(fieldValue(fields, L"TRUNKN4"), L"4");
    EXPECT_EQ(fieldValue(fields, L"TIME-E4"), L"240101000005");
    EXPECT_EQ(fieldValue(fields, L"TRUNKN5"), L"");

    fields = merged({L"RECORD:RID=1-1&TIME-S=240101000000&DURATION=9&TRUNKN=3&", L"", L"RECORD:RID=1-2&TRUNKN=4&"});
    EXPECT_EQ(fieldValue(fields, L"COUNT"), L"3");
    EXPECT_EQ(fieldValue(fields, L"TRUNKN1"), L"3");
    EXPECT_EQ(fieldValue(fields, L"TIME-S1"), L"240101000000");
    EXPECT_EQ(fieldValue(fields, L"TRUNKN2"), L"4");
}

TEST(MergeCall, TheMergedRecordIsANewFormatRecordOfTheFirstLeg) {
    std::vector<DatagramLine> lines(1);
    lines[0].text = L"RECORD:ID=41&RID=77-1&MAC=00-1A&TIME-S=240430235930&DURATION=45&TRUNKN=3&";
    parseRecord(lines[0].text, lines[0].record);
    MergedCall call;
    mergeCall(lines, CalendarTime{2024, 6, 1, 12, 0, 0}, call);
    const Record record = call.record();
    EXPECT_TRUE(record.isRecord());
    EXPECT_EQ(record[Field::count], L"1");
    EXPECT_EQ(record[Field::id], L"") << "the merged call gets no answer of its own";
    EXPECT_EQ(record[Field::timeEnd], L"240501000015");
    EXPECT_EQ(record[Field::trunk], L"3");
    EXPECT_EQ(record[Field::mac], L"00-1A");
}

}  // namespace
}  // namespace quelvar
