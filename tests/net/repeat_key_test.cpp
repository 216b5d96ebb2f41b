#include <gtest/gtest.h>

#include "core/text.h"
#include "net/encrypted_receiver.h"
#include "net/plain_receiver.h"
#include "net/recent_record_table.h"

namespace quelvar {
namespace {

TEST(RepeatKey, IsTheCallsPartOfTheRidBeforeItsFirstDash) {
    const struct {
        const wchar_t* rid;
        const char* key;
    } cases[] = {
        {L"77-1", "77"}, {L"77-1-2", "77"}, {L"-1", ""}, {L"77", ""}, {L"", ""},
    };
    for (const auto& each : cases)
        EXPECT_EQ(repeatKeyOf(each.rid), each.key) << testing::PrintToString(std::wstring(each.rid));
    // In the OEM code page, whichever the system's is.
    EXPECT_EQ(repeatKeyOf(L"中-1"), toOemText(L"中"));
}

TEST(PlainRepeatKey, RunsFromRidToTheFirstDashWhereverItIs) {
    const struct {
        const char* text;
        const char* key;
    } cases[] = {
        {"RECORD:RID=7-2&", "7"},
        {"RECORD:RID=7&CPN=1-2&", "7&CPN=1"},  // across fields
        {"RECORD:OLDRID=9-1&", "9"},           // RID= inside another key counts
        {"RECORD:RID=7&", ""},
        {"RECORD:CPN=1-2&", ""},
    };
    for (const auto& each : cases) EXPECT_EQ(plainRepeatKey(each.text), each.key) << each.text;
    EXPECT_TRUE(isPlainRecord("Record:x"));
    EXPECT_FALSE(isPlainRecord("RECORD"));
}

TEST(RepeatKeyFor, TellsSendersSwitchesAndCallsApartWhateverTheyHold) {
    const std::string base = repeatKeyFor("10.0.0.1", "00-1A", "77");
    const struct {
        const char* address;
        const char* mac;
        const char* call;
    } others[] = {
        {"10.0.0.2", "00-1A", "77"},   // another sender
        {"10.0.0.1", "00-1B", "77"},   // another switch
        {"10.0.0.1", "00-1A", "78"},   // another call
        {"10.0.0.1", "00-1A7", "7"},   // the MAC's end is no part of the call
        {"10.0.0.1", "", "00-1A77"},   // nor a call without MAC one with it
    };
    for (const auto& each : others)
        EXPECT_NE(repeatKeyFor(each.address, each.mac, each.call), base) << each.address << " " << each.mac;
    EXPECT_EQ(repeatKeyFor("10.0.0.1", "00-1A", "77"), base);
    EXPECT_EQ(repeatKeyFor("10.0.0.1", "00-1A", ""), "") << "no call key, never a repeat";

    // However long a MAC or call key, the key fits the table whole.
    const std::string longest =
        repeatKeyFor("255.255.255.255", std::string(70000, 'm'), std::string(70000, 'c'));
    EXPECT_LE(longest.size(), RecentRecordTable::longestKey);
}

}  // namespace
}  // namespace quelvar
