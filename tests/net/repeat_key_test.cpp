#include <gtest/gtest.h>

#include "core/text.h"
#include "net/encrypted_receiver.h"
#include "net/plain_receiver.h"

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

}  // namespace
}  // namespace quelvar
