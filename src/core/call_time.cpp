#include "core/call_time.h"

#include "core/format.h"

namespace quelvar {

int readTimeNumbers(std::wstring_view text, int (&numbers)[6]) {
    std::size_t position = 0;
    int count = 0;
    for (; count < 6; ++count) {
        // As scanf: white space before a number is skipped and does not
        // count toward its two characters; a sign does.
        while (position < text.size() && (text[position] == L' ' || (text[position] >= L'\t' && text[position] <= L'\r')))
            ++position;
        const std::size_t end = std::min(text.size(), position + 2);
        std::size_t cursor = position;
        bool negative = false;
        if (cursor < end && (text[cursor] == L'+' || text[cursor] == L'-')) negative = text[cursor++] == L'-';
        int value = 0;
        const std::size_t digitsFrom = cursor;
        for (; cursor < end && text[cursor] >= L'0' && text[cursor] <= L'9'; ++cursor)
            value = value * 10 + static_cast<int>(text[cursor] - L'0');
        if (cursor == digitsFrom) break;
        numbers[count] = negative ? -value : value;
        position = cursor;
    }
    return count;
}

namespace {

template <class Text>
bool namesNoDayOf(Text timeStart) {
    if (timeStart.size() < 6) return false;
    int numbers[3] = {0, 0, 0};
    for (std::size_t index = 0; index < 6; ++index) {
        const auto c = timeStart[index];
        if (c < '0' || c > '9') return false;
        numbers[index / 2] = numbers[index / 2] * 10 + static_cast<int>(c - '0');
    }
    const int year = 2000 + numbers[0];
    const int month = numbers[1];
    const int day = numbers[2];
    if (month < 1 || month > 12 || day < 1) return true;
    constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

bool namesNoDay(std::wstring_view timeStart) { return namesNoDayOf(timeStart); }
bool namesNoDay(std::string_view timeStart) { return namesNoDayOf(timeStart); }

std::wstring endTimeText(std::wstring_view timeStart, long long durationSeconds, const CalendarTime& today) {
    int numbers[6] = {0, 0, 0, 0, 0, 0};
    const int read = readTimeNumbers(timeStart, numbers);
    CalendarTime start{2000 + numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5]};
    const bool validDate = read >= 3 && numbers[0] <= 38 && numbers[1] >= 1 && numbers[1] <= 12 && numbers[2] >= 1 &&
                           numbers[2] <= 31;
    if (!validDate) {
        start.year = today.year;
        start.month = today.month;
        start.day = today.day;
    }
    TimeValue startTime = 0;
    CalendarTime end;
    if (!platform::fromLocalCalendar(start, startTime) ||
        !platform::toLocalCalendar(addSeconds(startTime, durationSeconds), end))
        return {};
    return formatText(L"%02d%02d%02d%02d%02d%02d", end.year - 2000, end.month, end.day, end.hour, end.minute,
                      end.second);
}

}  // namespace quelvar
