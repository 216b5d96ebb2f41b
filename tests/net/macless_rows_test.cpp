#include "net/macless_rows.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

TEST(MaclessRowRate, EachSenderHasItsBurstThenItsRateAndNoOneTakesAnothersShare) {
    MaclessRowRate rate;
    const TimeValue start = 1000;
    EXPECT_TRUE(rate.admits("10.0.0.1", MaclessRowRate::burst - 10, start));
    EXPECT_FALSE(rate.admits("10.0.0.1", 11, start)) << "past the burst";
    EXPECT_TRUE(rate.admits("10.0.0.1", 10, start));
    EXPECT_TRUE(rate.admits("10.0.0.2", MaclessRowRate::burst, start)) << "another sender's share is its own";
    EXPECT_TRUE(rate.admits("10.0.0.1", 0, start)) << "a datagram without such rows always passes";
    EXPECT_FALSE(rate.admits("10.0.0.1", 1, start));
    // The rate comes back a second at a time, never past the burst.
    EXPECT_TRUE(rate.admits("10.0.0.1", MaclessRowRate::perSecond * 3, start + 3));
    EXPECT_FALSE(rate.admits("10.0.0.1", 1, start + 3));
    EXPECT_FALSE(rate.admits("10.0.0.1", 1, start + 1)) << "a clock set back gives nothing";
    EXPECT_TRUE(rate.admits("10.0.0.1", MaclessRowRate::perSecond, start + 2));
    EXPECT_TRUE(rate.admits("10.0.0.1", MaclessRowRate::burst, start + 1000000));
    EXPECT_FALSE(rate.admits("10.0.0.1", 1, start + 1000000));
}

TEST(MaclessRowRate, SendersBeyondItsTableCostTheOthersNothingTheyHaveNotNearlyGotBack) {
    MaclessRowRate rate;
    const TimeValue start = 1000;
    ASSERT_TRUE(rate.admits("10.0.0.1", MaclessRowRate::burst, start));
    for (std::size_t i = 0; i < MaclessRowRate::senders; ++i)
        ASSERT_TRUE(rate.admits("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                                MaclessRowRate::burst - 1, start));
    // The table full, the first sender, furthest from its allowance, is still held.
    EXPECT_FALSE(rate.admits("10.0.0.1", 1, start));
}

}  // namespace
}  // namespace quelvar
