#include "quelvar_send/records.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "core/format.h"
#include "core/time.h"

namespace quelvar::send {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::vector<Call> callsFromArguments(const std::vector<std::string>& arguments, bool plain) {
    std::vector<Call> calls;
    for (const std::string& argument : arguments) {
        const auto lines = splitLines(argument);
        if (plain) {
            for (const auto& line : lines) calls.push_back({line});
        } else if (!lines.empty()) {
            calls.push_back(lines);
        }
    }
    return calls;
}

std::vector<Call> readCalls(std::istream& input, bool plain) {
    std::vector<Call> calls;
    Call current;
    for (std::string line; std::getline(input, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            if (!current.empty()) calls.push_back(std::move(current));
            current.clear();
        } else if (plain) {
            calls.push_back({line});
        } else {
            current.push_back(line);
        }
    }
    if (!current.empty()) calls.push_back(std::move(current));
    return calls;
}

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

void civilFromDays(long long days, CalendarTime& time) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;
    time.day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    time.month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2));
}

// 1 Monday to 7 Sunday; 1970-01-01 was a Thursday.
int weekdayOf(long long days) { return static_cast<int>(((days % 7 + 7) % 7 + 3) % 7 + 1); }

// The switch's clock as it writes TIME-S: civil time, so a leg's start is
// the leg before's start and duration added on the calendar.
CalendarTime later(const CalendarTime& time, long long seconds) {
    long long total = daysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 + time.minute * 60 +
                      time.second + seconds;
    long long days = total / 86400;
    if (total % 86400 < 0) --days;
    const long long ofDay = total - days * 86400;
    CalendarTime result;
    civilFromDays(days, result);
    result.hour = static_cast<int>(ofDay / 3600);
    result.minute = static_cast<int>(ofDay / 60 % 60);
    result.second = static_cast<int>(ofDay % 60);
    return result;
}

enum class Kind { internal, local, mobile, longDistance, international, service, premium, emergency };

// The mix, in calls of 10,000.
struct Share {
    int weight;
    const char* type;
    Kind kind;
};
constexpr Share mix[] = {
    {3000, "LO", Kind::internal},    {1700, "OU", Kind::local},       {1400, "OU", Kind::mobile},
    {500, "OU", Kind::longDistance}, {80, "OU", Kind::international}, {200, "OU", Kind::service},
    {30, "OU", Kind::premium},       {5, "OU", Kind::emergency},      {1100, "IN", Kind::local},
    {1000, "IN", Kind::mobile},      {450, "IN", Kind::longDistance}, {35, "IN", Kind::international},
    {280, "FW", Kind::mobile},       {50, "FW", Kind::local},         {20, "FW", Kind::longDistance},
    {100, "FI", Kind::mobile},       {50, "FI", Kind::local},
};
constexpr auto mixWeights = [] {
    std::array<int, std::size(mix)> weights{};
    for (std::size_t index = 0; index < weights.size(); ++index) weights[index] = mix[index].weight;
    return weights;
}();

// A call's duration: seconds at cumulative shares in millionths, straight
// lines between them. Median 75 s, 78 % under 3 minutes, 1.2 % over 30
// minutes, 0.05 % over 2 hours, none over 3.5 hours.
struct Quantile {
    std::uint32_t share;
    std::uint32_t seconds;
};
constexpr Quantile durations[] = {{0, 1},         {50000, 8},     {150000, 20},   {300000, 38},    {500000, 75},
                                  {700000, 135},  {780000, 180},  {870000, 300},  {930000, 540},   {970000, 960},
                                  {988000, 1800}, {997000, 3600}, {999500, 7200}, {1000000, 12600}};

// Calls per day: a weekday, Saturday, Sunday (public holidays are not known).
constexpr int dayWeights[] = {100, 20, 12};
// Calls per hour of the day: working hours with a lunch break, and the
// weekend's flatter day.
constexpr int weekdayHours[] = {2,  1,  1,   1,   1,  2,  6,  25, 85, 110, 115, 95,
                                40, 55, 100, 105, 95, 55, 25, 15, 10, 7,   5,   3};
constexpr int weekendHours[] = {3, 2, 1, 1, 1, 2, 4, 8, 15, 20, 22, 20, 14, 14, 18, 18, 16, 12, 10, 8, 6, 5, 4, 3};

const char* const switches[] = {"00:1A:2B:3C:4D:5E", "00:1A:2B:3C:4D:5F", "00:24:81:AA:10:02", "3C:97:0E:71:B2:C4"};
const char* const mobilePrefixes[] = {"13", "13", "13", "15", "15", "18", "18", "14"};
const char* const areaCodes[] = {"010",  "020",  "021",  "022",  "023",  "024",  "025",  "027",  "028",  "029",
                                 "0311", "0371", "0431", "0451", "0531", "0571", "0591", "0731", "0771", "0871"};
const char* const countries[] = {"00852", "00853", "00886", "001", "0044", "0081", "0049", "0065"};
constexpr int countryWeights[] = {35, 5, 10, 20, 8, 8, 6, 8};
const char* const services[] = {"10086", "10010", "10000", "95588", "95533",
                                "95555", "95566", "12345", "12315", "96102"};
const char* const emergencies[] = {"110", "119", "120", "122"};

}  // namespace

CallGenerator::CallGenerator(bool plain, std::uint32_t seed, long runId)
    : plain_(plain), random_(seed), runId_(runId) {}

void CallGenerator::startInMonth(int year, int month) {
    year_ = year;
    month_ = month;
}

// Rejection keeps every value equally likely.
std::uint32_t CallGenerator::below(std::uint32_t bound) {
    const std::uint32_t limit = static_cast<std::uint32_t>(0x100000000ULL - 0x100000000ULL % bound);
    for (;;) {
        const std::uint32_t raw = static_cast<std::uint32_t>(random_());
        if (limit == 0 || raw < limit) return raw % bound;
    }
}

std::size_t CallGenerator::weighted(std::span<const int> weights) {
    int total = 0;
    for (const int weight : weights) total += weight;
    int left = static_cast<int>(below(static_cast<std::uint32_t>(total)));
    for (std::size_t index = 0; index < weights.size(); ++index) {
        if (left < weights[index]) return index;
        left -= weights[index];
    }
    return weights.size() - 1;
}

std::string CallGenerator::digits(int count) {
    std::string text;
    for (int index = 0; index < count; ++index) text.push_back(static_cast<char>('0' + below(10)));
    return text;
}

// 8000-8999, a quarter of the calls from 40 busy lines (switchboard, wards);
// each extension belongs to one switch.
std::string CallGenerator::extension() {
    const std::uint32_t index = below(4) == 0 ? below(40) * 25 : below(1000);
    return std::to_string(8000 + index);
}

CalendarTime CallGenerator::startTime() {
    CalendarTime start = currentLocalTime();
    if (!month_) return start;
    static constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year_ % 4 == 0 && (year_ % 100 != 0 || year_ % 400 == 0);
    const int days = monthDays[month_ - 1] + (month_ == 2 && leap ? 1 : 0);
    const long long first = daysFromCivil(year_, month_, 1);
    int weights[31] = {};
    for (int day = 0; day < days; ++day) {
        const int weekday = weekdayOf(first + day);
        weights[day] = dayWeights[weekday <= 5 ? 0 : weekday - 5];
    }
    const std::size_t day = weighted(weights);
    civilFromDays(first + static_cast<long long>(day), start);
    start.hour = static_cast<int>(weekdayOf(first + static_cast<long long>(day)) <= 5 ? weighted(weekdayHours)
                                                                                      : weighted(weekendHours));
    start.minute = static_cast<int>(below(60));
    start.second = static_cast<int>(below(60));
    return start;
}

Call CallGenerator::next() {
    ++serial_;
    const Share& share = mix[weighted(mixWeights)];
    const std::string type = share.type;
    const std::string own = extension();
    const std::string mac = switches[(std::stoi(own) - 8000) / 250];
    // One draw a statement: the order in which the operands of an expression
    // are evaluated differs between compilers, and so would the calls.
    std::string other;
    switch (share.kind) {
        case Kind::internal:
            do other = extension();
            while (other == own);
            break;
        case Kind::local:
            other = std::to_string(2 + below(6));
            other += digits(7);
            break;
        case Kind::mobile:
            other = mobilePrefixes[below(8)];
            other += digits(9);
            break;
        case Kind::longDistance: {
            other = areaCodes[below(std::size(areaCodes))];
            other += digits(other.size() == 3 ? 8 : 7);
            break;
        }
        case Kind::international:
            other = countries[weighted(countryWeights)];
            other += digits(8);
            break;
        case Kind::service:
            other = below(5) == 0 ? "400" + digits(7) : services[below(std::size(services))];
            break;
        case Kind::premium:  // information lines
            other = below(2) ? "168" : "160";
            other += digits(5);
            break;
        case Kind::emergency:
            other = emergencies[below(4)];
            break;
    }
    const bool toUs = type == "IN" || type == "FI";
    const std::string cpn = toUs ? other : own;
    const std::string cdpn = toUs ? own : other;
    const std::string route = share.kind == Kind::internal ? "IC" : below(10) < 7 ? "IP" : "XO";

    long long seconds = 0;
    if (share.kind == Kind::emergency) {
        seconds = 15 + below(166);
    } else {
        const std::uint32_t at = below(1000000);
        std::size_t upper = 1;
        while (durations[upper].share <= at && upper + 1 < std::size(durations)) ++upper;
        const Quantile& low = durations[upper - 1];
        const Quantile& high = durations[upper];
        seconds = low.seconds + static_cast<long long>(at - low.share) * (high.seconds - low.seconds) /
                                    static_cast<long long>(high.share - low.share);
    }
    // A transfer: the first legs short, the last the rest of the call.
    std::vector<long long> legs;
    const std::uint32_t transfer = below(1000);
    const int legCount = plain_ || share.kind == Kind::emergency || seconds < 20 ? 1
                         : transfer < 40                                         ? 2
                         : transfer < 50                                         ? 3
                                                                                 : 1;
    long long left = seconds;
    for (int leg = 1; leg < legCount; ++leg) {
        const long long most = std::max<long long>(5, std::min<long long>(90, left / 3));
        legs.push_back(5 + below(static_cast<std::uint32_t>(most - 4)));
        left -= legs.back();
    }
    legs.push_back(left);

    const CalendarTime start = startTime();
    Call call;
    long long offset = 0;
    for (std::size_t leg = 0; leg < legs.size(); ++leg) {
        const CalendarTime at = later(start, offset);
        offset += legs[leg];
        const std::string rid = std::to_string(runId_) + std::to_string(serial_) + "-" + std::to_string(leg + 1);
        const long id = serial_ * 10 + static_cast<long>(leg) + 1;
        call.push_back(
            formatBytes("RECORD:ID=%lld&RID=%s&ACCOUNT=%s&CPN=%s&CDPN=%s&TYPE=%s&ROUTE=%s&MAC=%s&"
                        "TIME-S=%02d%02d%02d%02d%02d%02d&DURATION=%lld&TRUNKN=%d&",
                        static_cast<long long>(id), rid, own, cpn, cdpn, type, route, mac, at.year % 100, at.month,
                        at.day, at.hour, at.minute, at.second, legs[leg], static_cast<int>(1 + below(32))));
    }
    return call;
}

}  // namespace quelvar::send
