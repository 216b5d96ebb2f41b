#include "quelvar_report/alerting/silence.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>

#include "quelvar_report/index/statement.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

constexpr long long secondsADay = 86400;
constexpr long historyDays = 28;
// Days of history (from the switch's first file on) before a day of the
// week can be usual: each one seen at least twice.
constexpr long daysForUsualDays = 14;
// Days with records before an hour can be usual.
constexpr int daysForUsualHours = 3;
constexpr long long defaultLookBack = 7 * secondsADay;

long dayOf(long long moment) {
    return static_cast<long>(moment >= 0 ? moment / secondsADay : (moment - secondsADay + 1) / secondsADay);
}

std::string dayStart(long day) { return dateText(day) + "T00:00:00"; }

std::uint32_t bit(std::size_t hour) { return std::uint32_t{1} << hour; }

// What one switch's records say, as of the moment.
struct Learner {
    long firstDay = 0;
    long anchor = 0;  // the day after the history
    std::array<bool, 8> usualWeekday{};
    bool daysLearned = false;
    std::array<std::uint32_t, 8> hoursOn{};  // by day of the week

    bool countsAsUsual(long day) const {
        return day >= firstDay && (!daysLearned || usualWeekday[static_cast<std::size_t>(weekdayOf(day))]);
    }

    void learn(const std::vector<long long>& times, Habits& habits) {
        const long historyStart = anchor - historyDays;
        const long from = std::max(historyStart, firstDay);
        std::map<long, std::array<int, 24>> hours;  // day -> records per hour
        long long previous = -1;
        for (const long long time : times) {
            const long day = dayOf(time);
            if (day < historyStart || day >= anchor) continue;
            ++hours[day][static_cast<std::size_t>((time % secondsADay) / 3600)];
            if (previous >= 0) habits.longestQuiet = std::max(habits.longestQuiet, time - previous);
            previous = time;
        }
        daysLearned = anchor - from >= daysForUsualDays;
        if (daysLearned) {
            std::array<int, 8> occurred{}, filed{};
            for (long day = from; day < anchor; ++day) {
                const auto weekday = static_cast<std::size_t>(weekdayOf(day));
                ++occurred[weekday];
                if (hours.contains(day)) ++filed[weekday];
            }
            for (std::size_t weekday = 1; weekday <= 7; ++weekday) {
                usualWeekday[weekday] = occurred[weekday] > 0 && filed[weekday] * 4 >= occurred[weekday] * 3;
                if (usualWeekday[weekday]) habits.usualWeekdays.push_back(static_cast<int>(weekday));
            }
        }
        // Per hour, over the usual days it filed on and over those of each
        // day of the week: the days, those with records in the hour, and the
        // records. The day of the last record tells nothing of the hours
        // after it.
        struct Tally {
            int days = 0, seen = 0;
            long long records = 0;
        };
        const long lastDay = times.empty() ? 0 : dayOf(times.back());
        const std::size_t lastHour = times.empty() ? 23 : static_cast<std::size_t>((times.back() % secondsADay) / 3600);
        int days = 0;
        std::array<Tally, 24> all{};
        std::array<std::array<Tally, 24>, 8> on{};
        for (const auto& [day, counts] : hours) {
            if (day < from || !countsAsUsual(day)) continue;
            const auto weekday = static_cast<std::size_t>(weekdayOf(day));
            ++days;
            for (std::size_t hour = 0; hour < 24 && (day != lastDay || hour <= lastHour); ++hour)
                for (Tally* tally : {&all[hour], &on[weekday][hour]}) {
                    ++tally->days;
                    tally->seen += counts[hour] > 0 ? 1 : 0;
                    tally->records += counts[hour];
                }
        }
        if (days < daysForUsualHours) return;
        std::uint32_t any = 0;
        for (std::size_t weekday = 1; weekday <= 7; ++weekday) {
            if (daysLearned && !usualWeekday[weekday]) continue;
            for (std::size_t hour = 0; hour < 24; ++hour) {
                // Nine in ten of all usual days: a night hour with a call now
                // and then is no habit. Once days are learned, also on at
                // least half of this day of the week, with at least a quarter
                // of the hour's usual records: a quiet Sunday or Saturday
                // afternoon is no habit either, while one Wednesday without
                // its afternoon calls does not unlearn Wednesdays.
                const Tally& total = all[hour];
                const Tally& day = on[weekday][hour];
                bool usual = total.days > 0 && total.seen * 10 >= total.days * 9;
                if (daysLearned)
                    usual = usual && day.days > 0 && day.seen * 2 >= day.days &&
                            day.records * total.days * 4 >= total.records * day.days;
                if (usual) hoursOn[weekday] |= bit(hour);
            }
            any |= hoursOn[weekday];
        }
        for (std::size_t hour = 0; hour < 24; ++hour)
            if (any & bit(hour)) habits.usualHours.push_back(static_cast<int>(hour));
    }

    // The stretch between two records (or the last one and the moment) as a
    // silence: its usual time and the usual days it holds whole.
    void judge(long long from, long long to, long asOfDay, bool open, Silence& silence) const {
        const long first = dayOf(from), last = dayOf(to);
        for (long day = first; day <= last; ++day) {
            if (!countsAsUsual(day)) continue;
            const std::uint32_t usual = hoursOn[static_cast<std::size_t>(weekdayOf(day))];
            const long long midnight = static_cast<long long>(day) * secondsADay;
            for (std::size_t hour = 0; hour < 24; ++hour) {
                if (!(usual & bit(hour))) continue;
                const long long begin = std::max(from, midnight + static_cast<long long>(hour) * 3600);
                const long long end = std::min(to, midnight + static_cast<long long>(hour + 1) * 3600);
                if (end > begin) silence.usualSeconds += end - begin;
            }
            // A whole day without a record: strictly between the two, and over.
            if (daysLearned && day > first && (open ? day < asOfDay : day < last))
                silence.missedDays.push_back(dateText(day));
        }
    }
};

}  // namespace

std::vector<int> Habits::usualHoursOn(long day) const {
    std::vector<int> hours;
    if (firstDay.empty() || day < firstDayNumber) return hours;
    const std::uint32_t bits = hoursOn[static_cast<std::size_t>(weekdayOf(day))];
    for (std::size_t hour = 0; hour < 24; ++hour)
        if (bits & bit(hour)) hours.push_back(static_cast<int>(hour));
    return hours;
}

std::string localMoment(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

Status findSilences(sqlite3* database, std::string_view switches, std::chrono::seconds limit, std::string_view asOf,
                    std::vector<Silence>& silences, std::string_view since, std::vector<Habits>* habits) {
    silences.clear();
    if (habits) habits->clear();
    long long now = 0, sinceMoment = 0;
    if (!parseMoment(asOf, now))
        return Status::error(Status::Code::failed, "find silences", std::string(asOf), "not a moment");
    if (since.empty())
        sinceMoment = now - defaultLookBack;
    else if (!parseMoment(since, sinceMoment))
        return Status::error(Status::Code::failed, "find silences", std::string(since), "not a moment");
    const long today = dayOf(now);
    const std::string todayText = dateText(today);
    const std::string asOfText(asOf);

    // Switches filed before the moment (a call across midnight is filed the next day).
    std::vector<std::pair<std::string, std::string>> names;  // name, first file's day
    {
        Statement query(database,
                        "SELECT switch, min(filed) FROM day_files WHERE switch != '' AND (?1 = '*' OR switch = ?1 "
                        "COLLATE NOCASE) GROUP BY switch HAVING min(filed) <= date(?2, '+1 day') ORDER BY switch");
        query.bind({std::string(switches), todayText});
        while (query.step()) names.emplace_back(query.text(0), query.text(1));
        if (query.failed()) return query.status();
    }
    // The last record at or before a moment, found from the switch's last
    // file before that moment's day: no scan of the switch's whole history.
    Statement lastBefore(database,
                         "SELECT max(start) FROM calls WHERE switch = ?1 AND (flags & 2) = 0 AND start <= ?2 "
                         "AND day >= COALESCE((SELECT max(filed) FROM day_files WHERE switch = ?1 AND filed < ?3), '') "
                         "AND day <= date(?3, '+1 day')");
    Statement records(database,
                      "SELECT start FROM calls WHERE switch = ?1 AND (flags & 2) = 0 AND day >= date(?2, '-1 day') "
                      "AND day <= date(?3, '+1 day') AND start >= ?4 AND start <= ?5 ORDER BY start");
    if (lastBefore.failed()) return lastBefore.status();
    if (records.failed()) return records.status();

    for (const auto& [name, firstFile] : names) {
        Habits habit;
        habit.switchName = name;
        habit.firstDay = firstFile;
        lastBefore.bind({name, asOfText, todayText});
        std::optional<std::string> last;
        while (lastBefore.step()) last = lastBefore.optionalText(0);
        if (lastBefore.failed()) return lastBefore.status();
        long long lastMoment = 0;
        if (!last || !parseMoment(*last, lastMoment)) continue;  // nothing yet as of the moment
        habit.lastRecord = last;

        Learner learner;
        if (!parseDate(firstFile, learner.firstDay)) learner.firstDay = dayOf(lastMoment);
        learner.firstDay = std::min(learner.firstDay, dayOf(lastMoment));
        learner.anchor = std::min(today, dayOf(lastMoment) + 1);
        const long scanFrom = std::min(learner.anchor - historyDays, dayOf(sinceMoment));

        std::vector<long long> times;
        const std::string scanStart = dayStart(scanFrom);
        lastBefore.bind({name, momentText(static_cast<long long>(scanFrom) * secondsADay - 1), dateText(scanFrom)});
        while (lastBefore.step())
            if (long long moment = 0; !lastBefore.null(0) && parseMoment(lastBefore.view(0), moment))
                times.push_back(moment);
        if (lastBefore.failed()) return lastBefore.status();
        records.bind({name, dateText(scanFrom), todayText, scanStart, asOfText});
        while (records.step())
            if (long long moment = 0; parseMoment(records.view(0), moment)) times.push_back(moment);
        if (records.failed()) return records.status();

        learner.learn(times, habit);
        habit.daysLearned = learner.daysLearned;
        habit.hoursOn = learner.hoursOn;
        habit.firstDayNumber = learner.firstDay;
        const bool canJudge = !habit.usualHours.empty() || learner.daysLearned;
        for (std::size_t i = 0; canJudge && i < times.size(); ++i) {
            const bool open = i + 1 == times.size();
            const long long from = times[i], to = open ? now : times[i + 1];
            if (!open && to <= sinceMoment) continue;
            // Too short to hold more than the limit or a whole day.
            if (to - from <= limit.count() && dayOf(to) - dayOf(from) < 2) continue;
            Silence silence;
            learner.judge(from, to, today, open, silence);
            if (silence.usualSeconds <= limit.count() && silence.missedDays.empty()) continue;
            silence.switchName = name;
            silence.start = momentText(from);
            if (!open) silence.end = momentText(to);
            silence.dead = open && to - from > habit.longestQuiet;
            silences.push_back(std::move(silence));
        }
        if (habits) habits->push_back(std::move(habit));
    }
    return {};
}

}  // namespace quelvar::report
