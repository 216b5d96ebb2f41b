#include "core/call_time.h"

#include <gtest/gtest.h>

#include "core/numbers.h"
#include "support/time_zone.h"

namespace quelvar {
namespace {

// Central European time, with daylight saving.
class CallTimeTest : public testing::Test {
#ifdef _WIN32
    ScopedTimeZone zone_{"CET-1CEST"};
#else
    ScopedTimeZone zone_{"Europe/Berlin"};
#endif
};

TEST_F(CallTimeTest, EndTimeFollowsTheCalendar) {
    const CalendarTime today{2026, 12, 10, 8, 0, 0};
    const struct {
        const wchar_t* start;
        long long duration;
        const wchar_t* end;
    } cases[] = {
        {L"240315093000", 75, L"240315093115"},
        {L"240430235930", 45, L"240501000015"},
        {L"231231235959", 1, L"240101000000"},
        {L"240431120000", 0, L"240501120000"},   // the 31st of a 30-day month
        {L"450101120000", 60, L"261210120100"},  // year 45: today's date
        {L"241301120000", 0, L"261210120000"},   // month 13
        {L"240100120000", 0, L"261210120000"},   // day 0
        {L"240132120000", 0, L"261210120000"},   // day 32
        {L"240315093000", -30, L"240315092930"},
        {L"240315", 5, L"240315000005"},         // missing time numbers count 0
        {L"2403", 5, L"261210000005"},           // a missing day makes the date invalid
        {L"", 0, L"261210000000"},
        {L"24031509", 0, L"240315090000"},
        {L"2403150930", 0, L"240315093000"},
        {L"240315255959", 0, L"240316015959"},   // hours are taken as they are
#ifndef _WIN32
        // Windows' C library knows only the American change dates from TZ,
        // and moves a skipped time back instead.
        {L"240331023000", 0, L"240331033000"},   // a time skipped by the clock change
#endif
        {L"380119031407", 86400, L"380120031407"},
    };
    for (const auto& each : cases)
        EXPECT_EQ(endTimeText(each.start, each.duration, today), each.end)
            << testing::PrintToString(std::wstring(each.start));
}

TEST(ReadTimeNumbers, ReadsTwoCharactersAtATimeAsScanfDoes) {
    int numbers[6] = {};
    EXPECT_EQ(readTimeNumbers(L"240315093000", numbers), 6);
    EXPECT_EQ(numbers[0], 24);
    EXPECT_EQ(numbers[5], 0);
    EXPECT_EQ(readTimeNumbers(L"24 315", numbers), 3);
    EXPECT_EQ(numbers[1], 31);
    EXPECT_EQ(numbers[2], 5);
    EXPECT_EQ(readTimeNumbers(L"-1", numbers), 1);
    EXPECT_EQ(numbers[0], -1);
    EXPECT_EQ(readTimeNumbers(L"24x5", numbers), 1);
}

TEST(NamesNoDay, TellsSixDigitsThatNoCalendarHasFromRealDaysAndFromWhatIsNoDate) {
    const struct {
        const char* timeStart;
        bool noDay;
    } cases[] = {
        {"261131093000", true},  {"270229093000", true}, {"241329", true},        {"240001", true},
        {"240300", true},        {"000000000000", true}, {"240229093000", false}, {"000229", false},
        {"261130235959", false}, {"991231", false},      {"2403", false},         {"24-3-1", false},
        {"?", false},            {"", false},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(namesNoDay(std::string_view(each.timeStart)), each.noDay) << each.timeStart;
        const std::string text = each.timeStart;
        EXPECT_EQ(namesNoDay(std::wstring(text.begin(), text.end())), each.noDay) << each.timeStart;
    }
}

TEST(LeadingInteger, ReadsAsAtoiDoes) {
    const struct {
        const wchar_t* text;
        long long value;
    } cases[] = {{L"42", 42},       {L"  -7x", -7},    {L"+3", 3},   {L"007", 7}, {L"", 0},
                 {L"abc", 0},       {L"\t\n 12 3", 12}, {L"- 1", 0},  {L"99999999999999999999", 9223372036854775807LL}};
    for (const auto& each : cases) EXPECT_EQ(leadingInteger(each.text), each.value) << testing::PrintToString(std::wstring(each.text));
    EXPECT_EQ(leadingInteger(std::string_view("75")), 75);
}

}  // namespace
}  // namespace quelvar
