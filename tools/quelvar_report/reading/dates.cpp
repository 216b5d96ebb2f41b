#include "quelvar_report/reading/dates.h"

#include <charconv>
#include <cstdio>

namespace quelvar::report {

long daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::string dateText(long days) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long monthIndex = (5 * dayOfYear + 2) / 153;
    const long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const long year = yearOfEra + era * 400 + (month <= 2);
    char text[80];
    std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld", year, month, day);
    return text;
}

int weekdayOf(long days) {
    // 1970-01-01 was a Thursday.
    const long shifted = (days + 3) % 7;
    return static_cast<int>(shifted < 0 ? shifted + 7 : shifted) + 1;
}

bool parseNumber(std::string_view text, int& value) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
}

bool parseDate(std::string_view text, long& days) {
    int year = 0, month = 0, day = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !parseNumber(text.substr(0, 4), year) ||
        !parseNumber(text.substr(5, 2), month) || !parseNumber(text.substr(8, 2), day))
        return false;
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month < 1 || month > 12 || day < 1 || day > lengths[month - 1] + (month == 2 && leap)) return false;
    days = daysFromCivil(year, month, day);
    return true;
}

bool parseMoment(std::string_view text, long long& seconds) {
    long days = 0;
    int hour = 0, minute = 0, second = 0;
    if (text.size() != 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':' || !parseDate(text.substr(0, 10), days) ||
        !parseNumber(text.substr(11, 2), hour) || !parseNumber(text.substr(14, 2), minute) ||
        !parseNumber(text.substr(17, 2), second) || hour > 23 || minute > 59 || second > 59)
        return false;
    seconds = static_cast<long long>(days) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string momentText(long long seconds) {
    long long days = seconds / 86400;
    long long within = seconds % 86400;
    if (within < 0) {
        within += 86400;
        --days;
    }
    char clock[32];
    std::snprintf(clock, sizeof clock, "T%02lld:%02lld:%02lld", within / 3600, within / 60 % 60, within % 60);
    return dateText(static_cast<long>(days)) + clock;
}

}  // namespace quelvar::report
