#include "quelvar_send/records.h"

#include <ctime>

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

CallGenerator::CallGenerator(bool plain, std::uint32_t seed)
    : plain_(plain), random_(seed), runId_(static_cast<long>(std::time(nullptr) % 100000)) {}

void CallGenerator::startInMonth(int year, int month) {
    year_ = year;
    month_ = month;
}

Call CallGenerator::next() {
    static const char* const switches[] = {"00:1A:2B:3C:4D:5E", "00:1A:2B:3C:4D:5F", "00:24:81:AA:10:02",
                                           "3C:97:0E:71:B2:C4"};
    static const char* const special[] = {"110", "120", "10086", "95588", "12345", "4008001234", "96102"};
    const auto pick = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); };
    const auto digits = [&](int count) {
        std::string text;
        for (int index = 0; index < count; ++index) text.push_back(static_cast<char>('0' + pick(10)));
        return text;
    };

    ++serial_;
    const std::string mac = switches[pick(4)];
    const std::string extension = "8" + digits(3);
    std::string type, route, other;
    switch (pick(6)) {
        case 0:  // between two extensions
            type = "LO", route = "IC", other = "8" + digits(3);
            break;
        case 1:  // a local landline or mobile
            type = pick(2) ? "OU" : "IN", route = "IP", other = pick(2) ? digits(8) : "13" + digits(9);
            break;
        case 2:  // long distance
            type = pick(2) ? "OU" : "IN", route = "XO", other = "0" + std::to_string(20 + pick(80)) + digits(8);
            break;
        case 3:  // international
            type = "OU", route = "IP", other = "00" + std::to_string(1 + pick(98)) + digits(9);
            break;
        case 4:  // special service
            type = "OU", route = "XO", other = special[pick(7)];
            break;
        default:  // forwarded
            type = pick(2) ? "FW" : "FI", route = "IP", other = "13" + digits(9);
            break;
    }
    const std::string cpn = type == "IN" || type == "FI" ? other : extension;
    const std::string cdpn = type == "IN" || type == "FI" ? extension : other;
    const int legs = plain_ || pick(10) != 0 ? 1 : 2 + pick(3);

    CalendarTime now = currentLocalTime();
    if (month_) {
        static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = year_ % 4 == 0 && (year_ % 100 != 0 || year_ % 400 == 0);
        now.year = year_;
        now.month = month_;
        now.day = 1 + pick(days[month_ - 1] + (month_ == 2 && leap ? 1 : 0));
        now.hour = pick(10) < 8 ? 8 + pick(10) : pick(24);
        now.minute = pick(60);
        now.second = pick(60);
    }
    Call call;
    for (int leg = 1; leg <= legs; ++leg) {
        const std::string rid = std::to_string(runId_) + std::to_string(serial_) + "-" + std::to_string(leg);
        const long id = serial_ * 10 + leg;
        call.push_back(
            formatBytes("RECORD:ID=%lld&RID=%s&ACCOUNT=%s&CPN=%s&CDPN=%s&TYPE=%s&ROUTE=%s&MAC=%s&"
                        "TIME-S=%02d%02d%02d%02d%02d%02d&DURATION=%d&TRUNKN=%d&",
                        static_cast<long long>(id), rid, extension, cpn, cdpn, type, route, mac, now.year % 100,
                        now.month, now.day, now.hour, now.minute, now.second, pick(3600), 1 + pick(32)));
    }
    return call;
}

}  // namespace quelvar::send
