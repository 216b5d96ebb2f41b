#include "net/recent_record_table.h"

#include <gtest/gtest.h>

#include <memory>

namespace quelvar {
namespace {

class RecentRecordTableTest : public testing::Test {
protected:
    std::unique_ptr<RecentRecordTable> table = std::make_unique<RecentRecordTable>();
    bool seen(std::string_view key, TimeValue now) { return table->isRepeatedRecord(key, now); }
};

TEST_F(RecentRecordTableTest, RepeatsWithinTenSecondsAndRenewsOnEachRepeat) {
    EXPECT_FALSE(seen("77", 1000));
    EXPECT_TRUE(seen("77", 1010));   // exactly 10 seconds: still a repeat
    EXPECT_TRUE(seen("77", 1018));   // renewed at 1010
    EXPECT_TRUE(seen("77", 1026));   // renewed at 1018
    EXPECT_FALSE(seen("77", 1037));  // 11 seconds after the last: new again
    EXPECT_TRUE(seen("77", 1038));
    EXPECT_FALSE(seen("78", 1038));
    EXPECT_FALSE(seen("7", 1038)) << "keys compare whole";
}

TEST_F(RecentRecordTableTest, EmptyKeyIsNeverARepeatAndTakesNoEntry) {
    EXPECT_FALSE(seen("", 1000));
    EXPECT_FALSE(seen("", 1000));
    EXPECT_EQ(table->size(), 0u);
}

// Before, a full table remembered no new key: one sender's flood of keys
// left a real switch's next call unremembered, and its repeat was filed twice.
TEST_F(RecentRecordTableTest, AFullTableGivesEverySenderItsShareAndAFloodPushesOutOnlyItsOwnKeys) {
    table = std::make_unique<RecentRecordTable>(512);
    const auto key = [](const char* sender, int index) { return std::string(sender) + " 0 " + std::to_string(index); };
    for (int index = 0; index < 8; ++index) ASSERT_FALSE(seen(key("switch", index), 1000));
    for (int index = 0; index < 2000; ++index) ASSERT_FALSE(seen(key("flood", index), 1001));
    EXPECT_EQ(table->size(), 512u);
    EXPECT_EQ(table->keysOf("switch"), 8u) << "the flood pushed out only its own keys";
    for (int index = 0; index < 8; ++index) EXPECT_TRUE(seen(key("switch", index), 1002)) << index;
    EXPECT_TRUE(seen(key("flood", 1999), 1002)) << "the flood's newest keys stay";
    EXPECT_FALSE(seen(key("flood", 0), 1002)) << "its oldest gave way";

    // The switch's new keys take the flood's place until both hold alike.
    for (int index = 100; index < 600; ++index) ASSERT_FALSE(seen(key("switch", index), 1003));
    EXPECT_EQ(table->keysOf("switch"), 256u);
    EXPECT_EQ(table->keysOf("flood"), 256u);
    EXPECT_TRUE(seen(key("switch", 599), 1003));

    // Once the old keys expire, room comes back.
    EXPECT_FALSE(seen("late", 1016));
    EXPECT_TRUE(seen("late", 1016));
    EXPECT_EQ(table->size(), 1u) << "everything older was swept";
}

TEST_F(RecentRecordTableTest, HoldsTheKeysOfAWindowAtFullSpeed) {
    // Twenty thousand records a second for ten seconds, each repeated once.
    for (int second = 0; second < 10; ++second) {
        for (int index = 0; index < 20000; ++index) {
            const std::string key = std::to_string(second * 20000 + index);
            ASSERT_FALSE(seen(key, 1000 + second));
            ASSERT_TRUE(seen(key, 1000 + second)) << key;
        }
    }
    EXPECT_TRUE(seen("0", 1010));
    EXPECT_FALSE(seen("0", 1021));
}

TEST_F(RecentRecordTableTest, ClockGoingBackKeepsTheWindow) {
    EXPECT_FALSE(seen("a", 1000));
    EXPECT_FALSE(seen("b", 1020));
    EXPECT_TRUE(seen("b", 1005)) << "a stamp ahead of the clock stays";
    EXPECT_FALSE(seen("a", 1011));
    EXPECT_FALSE(seen("c", 990));
    EXPECT_TRUE(seen("c", 991));
}

TEST_F(RecentRecordTableTest, LongKeysAreCutTo255Bytes) {
    const std::string longKey(300, 'k');
    EXPECT_FALSE(seen(longKey, 1000));
    EXPECT_TRUE(seen(longKey.substr(0, 255), 1001));
    EXPECT_TRUE(seen(longKey.substr(0, 255) + "other tail", 1001));
    EXPECT_FALSE(seen(longKey.substr(0, 254), 1001));
}

TEST_F(RecentRecordTableTest, KeepsTheFirstAcknowledgementAndForgetsOnRequest) {
    EXPECT_FALSE(seen("41", 1000));
    table->rememberAcknowledgement("41", "42");
    std::string acknowledgement;
    EXPECT_TRUE(table->isRepeatedRecord("41", 1002, &acknowledgement));
    EXPECT_EQ(acknowledgement, "42");
    table->forgetRecord("41");
    EXPECT_FALSE(seen("41", 1003));
    EXPECT_TRUE(table->isRepeatedRecord("41", 1004, &acknowledgement));
    EXPECT_EQ(acknowledgement, "") << "a new copy starts without an acknowledgement";
}

TEST_F(RecentRecordTableTest, ClearSetsEveryEntryFree) {
    seen("1", 1000);
    table->clearRecentRecords();
    EXPECT_FALSE(seen("1", 1001));
}

}  // namespace
}  // namespace quelvar
