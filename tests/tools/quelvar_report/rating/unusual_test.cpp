// The unusual calls a page shows, gathered in the rating pass: costly calls
// out of hours (satellite numbers first), extensions the directory does not
// list, calls over two hours, bursts to one number, the first unrated calls.
#include <gtest/gtest.h>

#include <string>

#include "quelvar_report/rating/bill.h"
#include "quelvar_report/rating/trend.h"

namespace {

using quelvar::report::RatedCall;
using quelvar::report::Report;
using quelvar::report::ReportBuilder;

RatedCall call(std::string caller, std::string callee, std::string category, std::string start, long long seconds,
               long long cost, bool known = true) {
    RatedCall c;
    c.switchName = "00-1A-2B-3C-4D-5E";
    c.callId = caller + "-" + start;
    c.caller = c.account = std::move(caller);
    c.callee = std::move(callee);
    c.category = std::move(category);
    c.start = std::move(start);
    c.day = c.start.substr(0, 10);
    c.seconds = seconds;
    c.known = known;
    c.person = known ? "某人" : c.caller;
    c.department = known ? "内科" : "";
    c.rated = cost >= 0;
    c.cost = cost >= 0 ? cost : 0;
    if (!c.rated) c.unratedWhy = "no rule for " + c.category;
    return c;
}

Report gathered(const std::vector<RatedCall>& calls, bool directory = true) {
    ReportBuilder builder("2026-11-01", "2026-11-30", "ext");
    builder.directoryInUse(directory);
    for (const RatedCall& c : calls) builder.add(c);
    return builder.finish("2026-12-01 08:00");
}

TEST(UnusualCalls, CostlyCallsOutOfHoursSatelliteFirst) {
    const Report report = gathered({
        // Saturday 21 November, 02:00: a satellite number from an unlisted extension.
        call("8999", "008821650012", "国际长途", "2026-11-21T02:00:00", 600, 80000, false),
        // Tuesday 17 November: at 22:00 (out of hours) and at 10:00 (in hours).
        call("8001", "0044207123456", "国际长途", "2026-11-17T22:00:00", 600, 480000),
        call("8001", "0044207123456", "国际长途", "2026-11-17T10:00:00", 600, 480000),
        // A satellite number from a listed extension, Sunday afternoon.
        call("8002", "0087012345678", "国际长途", "2026-11-22T15:00:00", 60, 8000),
        // Premium-rate: costing, and free (110) at night.
        call("8003", "16801234", "特服电话", "2026-11-18T23:30:00", 60, 1000),
        call("8003", "110", "特服电话", "2026-11-18T23:40:00", 60, 0),
        // A local call at night is not unusual.
        call("8004", "26881234", "市话", "2026-11-18T23:50:00", 60, 220),
    });
    const auto& list = report.unusual.offHours;
    EXPECT_EQ(list.count, 4);
    ASSERT_EQ(list.calls.size(), 4u);
    EXPECT_EQ(list.calls[0].callee, "008821650012") << "satellite and unlisted first";
    EXPECT_EQ(list.calls[1].callee, "0087012345678") << "then satellite";
    EXPECT_EQ(list.calls[2].cost, 480000) << "then by cost";
    EXPECT_EQ(list.calls[3].callee, "16801234");
}

TEST(UnusualCalls, UnlistedExtensionsOnlyWithADirectory) {
    const std::vector<RatedCall> calls = {
        call("8999", "26881234", "市话", "2026-11-03T09:00:00", 60, 220, false),
        call("8999", "0755123456", "国内长途", "2026-11-09T09:00:00", 60, 700, false),
        call("8998", "26881234", "市话", "2026-11-05T09:00:00", 60, 1220, false),
        call("8001", "26881234", "市话", "2026-11-05T09:00:00", 60, 220),
    };
    const Report report = gathered(calls);
    EXPECT_TRUE(report.unusual.directoryUsed);
    EXPECT_EQ(report.unusual.unlistedCalls, 3);
    ASSERT_EQ(report.unusual.unlisted.size(), 2u);
    EXPECT_EQ(report.unusual.unlisted[0].number, "8998");  // the most costly first
    EXPECT_EQ(report.unusual.unlisted[1].number, "8999");
    EXPECT_EQ(report.unusual.unlisted[1].totals.calls, 2);
    EXPECT_EQ(report.unusual.unlisted[1].first, "2026-11-03T09:00:00");
    EXPECT_EQ(report.unusual.unlisted[1].last, "2026-11-09T09:00:00");
    // Without a directory every extension is unknown: none is unusual.
    EXPECT_TRUE(gathered(calls, false).unusual.unlisted.empty());
}

TEST(UnusualCalls, LongCallsAndTheFirstUnrated) {
    const Report report = gathered({
        call("8001", "26881234", "市话", "2026-11-03T09:00:00", 2 * 3600, 1500),      // two hours: not over
        call("8001", "26881234", "市话", "2026-11-04T09:00:00", 2 * 3600 + 1, 1600),  // over
        call("8002", "95588", "特服电话", "2026-11-02T09:00:00", 25 * 3600, -1),      // over a day, unrated
        call("8002", "95588", "特服电话", "2026-11-01T08:00:00", 60, -1),             // the first unrated
    });
    ASSERT_EQ(report.unusual.longCalls.calls.size(), 2u);
    EXPECT_EQ(report.unusual.longCalls.calls[0].seconds, 25 * 3600);
    EXPECT_EQ(report.unusual.longCalls.calls[1].seconds, 2 * 3600 + 1);
    EXPECT_EQ(report.unratedCalls.count, 2);
    ASSERT_EQ(report.unratedCalls.calls.size(), 2u);
    EXPECT_EQ(report.unratedCalls.calls[0].start, "2026-11-01T08:00:00") << "the earliest first";
    EXPECT_EQ(report.unratedCalls.calls[0].unratedWhy, "no rule for 特服电话");
}

TEST(UnusualCalls, BurstsAreTenCallsToOneNumberWithinAnHour) {
    const auto calls = [](const std::string& callee, int count, int minutesApart, const std::string& category) {
        std::vector<RatedCall> made;
        for (int i = 0; i < count; ++i) {
            const int minute = i * minutesApart;
            char start[32];
            std::snprintf(start, sizeof start, "2026-11-10T%02d:%02d:00", 9 + minute / 60, minute % 60);
            made.push_back(call("800" + std::to_string(i % 3), callee, category, start, 30, 100));
        }
        return made;
    };
    std::vector<RatedCall> all;
    for (const auto& part : {calls("13912345678", 10, 6, "市话"),  // ten within 54 minutes: a burst
                             calls("13800000000", 10, 7, "市话"),  // ten over 63 minutes: not
                             calls("8123", 20, 1, "内线"),         // internal: never
                             calls("008821650012", 12, 4, "国际长途")})
        all.insert(all.end(), part.begin(), part.end());
    const Report report = gathered(all);
    ASSERT_EQ(report.unusual.bursts.size(), 2u);
    EXPECT_EQ(report.unusual.bursts[0].callee, "008821650012");
    EXPECT_EQ(report.unusual.bursts[0].calls, 12);
    EXPECT_EQ(report.unusual.bursts[0].first, "2026-11-10T09:00:00");
    EXPECT_EQ(report.unusual.bursts[0].last, "2026-11-10T09:44:00");
    EXPECT_EQ(report.unusual.bursts[0].cost, 1200);
    EXPECT_EQ(report.unusual.bursts[0].callers.size(), 3u);
    EXPECT_EQ(report.unusual.bursts[1].callee, "13912345678");
    EXPECT_EQ(report.unusual.bursts[1].calls, 10);
}

TEST(Trend, MonthsBefore) {
    EXPECT_EQ(quelvar::report::monthsBefore("2026-11", 11), "2025-12");
    EXPECT_EQ(quelvar::report::monthsBefore("2026-01", 1), "2025-12");
    EXPECT_EQ(quelvar::report::monthsBefore("2026-12", -1), "2027-01");
    EXPECT_EQ(quelvar::report::monthsBefore("2026-13", 1), "");
    EXPECT_EQ(quelvar::report::monthsBefore("nonsense", 1), "");
}

}  // namespace
