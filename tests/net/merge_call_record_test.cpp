#include <gtest/gtest.h>

#include "message/field_map.h"
#include "net/encrypted_receiver.h"
#include "support/time_zone.h"

namespace quelvar {
namespace {

FieldMap merged(const std::vector<std::wstring>& parts) {
    FieldMap fields;
    parseFieldMap(mergeCallRecord(parts), fields);
    return fields;
}

TEST(MergeCallRecord, TwoLegsGiveCommonFieldsCountAndLegs) {
    ScopedTimeZone zone("CST-8");
    const std::wstring text = mergeCallRecord({
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

TEST(MergeCallRecord, FillsEachFieldFromTheFirstLineThatHasIt) {
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

TEST(MergeCallRecord, KeepsTheLegsOfTheFirstFiveLinesAndRepeatsALegForAnEmptyLine) {
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

}  // namespace
}  // namespace quelvar
