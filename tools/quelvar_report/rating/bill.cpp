#include "quelvar_report/rating/bill.h"

#include <algorithm>

#include "quelvar_report/reading/dates.h"
#include "quelvar_report/index/index_reader.h"

namespace quelvar::report {
namespace {

std::string groupOf(const RatedCall& call, const std::string& by) {
    if (by == "switch") return call.switchName.empty() ? std::string("(workbook)") : call.switchName;
    if (by == "department") return departmentShown(call);
    const std::string& number = by == "person" ? call.person : call.caller.empty() ? call.account : call.caller;
    return number.empty() ? std::string("(none)") : number;
}

struct Looked {
    bool known = false;
    std::string name, department;
};

}  // namespace

std::string departmentShown(const RatedCall& call) {
    if (!call.known) return call.person.empty() ? std::string("(none)") : call.person;
    return call.department.empty() ? std::string("(no department)") : call.department;
}

Status rateCalls(sqlite3* database, const RatingPass& pass, const Tariffs& tariffs, const Directory& directory,
                 const std::function<void(const RatedCall&)>& each, long long* incomingLeftOut) {
    Statement query(database,
                    std::string("SELECT switch, call_id, account, caller, callee, category, COALESCE(start, ''), substr(") +
                        when + ", 1, 10), seconds, legs, type IN ('IN', 'FI') FROM calls " + pass.where +
                        (pass.inOrder ? std::string(" ORDER BY ") + when + ", switch, call_id" : std::string()));
    query.bind(pass.values);
    if (incomingLeftOut) *incomingLeftOut = 0;
    // People are looked up once per number, or once per number and day where
    // the directory has dated lines for it; not once per call.
    struct Cached {
        bool dated = false;
        Looked looked;
    };
    std::unordered_map<std::string, Cached> people;
    std::unordered_map<std::string, Looked> peopleByDay;
    std::string key;
    RatedCall call;
    while (query.step()) {
        if (incomingLeftOut && query.integer(10) != 0) {
            ++*incomingLeftOut;
            continue;
        }
        call.switchName.assign(query.view(0));
        call.callId.assign(query.view(1));
        call.account.assign(query.view(2));
        call.caller.assign(query.view(3));
        call.callee.assign(query.view(4));
        call.category.assign(query.view(5));
        call.start.assign(query.view(6));
        call.day.assign(query.view(7));
        call.seconds = query.integer(8);
        call.legs = static_cast<int>(query.integer(9));
        const Looked* looked = nullptr;
        static const Looked nobody;
        if (directory.empty()) {
            looked = &nobody;
        } else {
            const auto lookUp = [&] {
                Cached made;
                const Person* person =
                    directory.findCaller(call.switchName, call.account, call.caller, call.day, &made.dated);
                if (person) made.looked = Looked{true, person->name, person->department};
                return made;
            };
            key.assign(call.switchName).append(1, '\x1f').append(call.account).append(1, '\x1f').append(call.caller);
            auto found = people.find(key);
            if (found == people.end()) found = people.emplace(key, lookUp()).first;
            if (!found->second.dated) {
                looked = &found->second.looked;
            } else {
                key.append(1, '\x1f').append(call.day);
                auto byDay = peopleByDay.find(key);
                if (byDay == peopleByDay.end()) byDay = peopleByDay.emplace(key, lookUp().looked).first;
                looked = &byDay->second;
            }
        }
        call.known = looked->known;
        call.person = looked->known ? looked->name : call.caller.empty() ? call.account : call.caller;
        call.department = looked->department;
        Rating rating = tariffs.rate(CallToRate{call.start, call.seconds, call.category, call.callee}, false);
        call.rated = rating.rated;
        call.cost = rating.cost;
        call.tariffVersion = rating.rated ? rating.version : std::string();
        call.unratedWhy = std::move(rating.why);
        call.group = groupOf(call, pass.by);
        each(call);
    }
    return query.status();
}

ReportBuilder::ReportBuilder(std::string from, std::string to, std::string by) {
    report_.bill.from = std::move(from);
    report_.bill.to = std::move(to);
    report_.bill.by = std::move(by);
}

void ReportBuilder::keep(std::vector<Kept>& list, long long key1, long long key2, const RatedCall& call) {
    const auto greater = [](const Kept& a, const Kept& b) { return a.key1 != b.key1 ? a.key1 > b.key1 : a.key2 > b.key2; };
    if (list.size() < listLimit) {
        list.push_back(Kept{key1, key2, call});
        std::push_heap(list.begin(), list.end(), greater);
        return;
    }
    const Kept& least = list.front();
    if (key1 < least.key1 || (key1 == least.key1 && key2 <= least.key2)) return;
    std::pop_heap(list.begin(), list.end(), greater);
    list.back() = Kept{key1, key2, call};
    std::push_heap(list.begin(), list.end(), greater);
}

void ReportBuilder::add(const RatedCall& call) {
    Bill& bill = report_.bill;
    BillGroup& group = groups_[call.group];
    if (group.name.empty()) group.name = call.group;
    // Someone who moved shows with the department of their last call.
    if (bill.by == "person" && call.known) {
        std::string& since = departmentDays_[call.group];
        if (call.day >= since) {
            since = call.day;
            group.department = call.department;
        }
    }
    group.total.add(call.seconds, call.cost, call.rated);
    group.byCategory[call.category].add(call.seconds, call.cost, call.rated);
    bill.total.add(call.seconds, call.cost, call.rated);
    bill.byCategory[call.category].add(call.seconds, call.cost, call.rated);
    if (call.rated && !call.tariffVersion.empty()) ++versions_[call.tariffVersion];
    if (!call.rated) ++unratedReasons_[call.unratedWhy];

    departments_[departmentShown(call)][call.category].add(call.seconds, call.cost, call.rated);
    days_[call.day].add(call.seconds, call.cost, call.rated);
    if (!call.callee.empty()) destinations_.add(call.callee, call.seconds, call.cost, call.rated);
    const std::string& who = call.known ? call.person : call.caller.empty() ? call.account : call.caller;
    if (!who.empty()) {
        Ranked& caller = callers_[who];
        if (caller.name.empty()) {
            caller.name = who;
            caller.detail = call.known ? call.department : std::string();
        }
        caller.totals.add(call.seconds, call.cost, call.rated);
    }

    long days = 0;
    int hour = -1;
    const bool timed = call.start.size() >= 13 && parseDate(std::string_view(call.start).substr(0, 10), days) &&
                       parseNumber(std::string_view(call.start).substr(11, 2), hour) && hour < 24;
    const int weekday = timed ? weekdayOf(days) : 0;
    if (timed) ++report_.heat[weekday - 1][hour];
    if (call.seconds >= longCallSeconds) {
        ++report_.longCalls.count;
        keep(long_, call.seconds, call.cost, call);
    }
    if (timed && (hour < workdayStartHour || hour >= workdayEndHour || weekday >= 6)) {
        ++report_.afterHours.count;
        keep(afterHours_, call.cost, call.seconds, call);
    }
    if (call.category == internationalCategory) {
        ++report_.international.count;
        keep(international_, call.cost, call.seconds, call);
    }
    addUnusual(call);
}

Report ReportBuilder::finish(const std::string& generated) {
    Report report = std::move(report_);
    Bill& bill = report.bill;
    report.generated = generated;
    for (auto& [name, group] : groups_) bill.groups.push_back(std::move(group));
    std::sort(bill.groups.begin(), bill.groups.end(), [](const BillGroup& a, const BillGroup& b) { return a.name < b.name; });
    for (const auto& [version, count] : versions_) bill.tariffVersions.push_back(version);
    for (const std::string_view category : knownCategories)
        if (bill.byCategory.contains(std::string(category))) bill.categories.emplace_back(category);
    for (const auto& [category, totals] : bill.byCategory)
        if (std::find(knownCategories.begin(), knownCategories.end(), category) == knownCategories.end())
            bill.categories.push_back(category);

    for (auto& [name, byCategory] : departments_) report.departments.emplace_back(name, std::move(byCategory));
    const auto costOf = [](const std::map<std::string, Totals>& byCategory) {
        Li cost = 0;
        for (const auto& [category, totals] : byCategory) cost += totals.cost;
        return cost;
    };
    std::stable_sort(report.departments.begin(), report.departments.end(),
                     [&](const auto& a, const auto& b) { return costOf(a.second) > costOf(b.second); });

    long first = 0, last = 0;
    if (parseDate(bill.from, first) && parseDate(bill.to, last))
        for (long day = first; day <= last; ++day) {
            const std::string date = dateText(day);
            const auto found = days_.find(date);
            report.days.emplace_back(date, found == days_.end() ? Totals{} : found->second);
        }

    const auto byCalls = [](const Ranked& a, const Ranked& b) {
        if (a.totals.calls != b.totals.calls) return a.totals.calls > b.totals.calls;
        if (a.totals.seconds != b.totals.seconds) return a.totals.seconds > b.totals.seconds;
        return a.name < b.name;
    };
    {
        std::vector<std::pair<std::string, Totals>> numbers = destinations_.all();
        const auto before = [](const auto& a, const auto& b) {
            if (a.second.calls != b.second.calls) return a.second.calls > b.second.calls;
            if (a.second.seconds != b.second.seconds) return a.second.seconds > b.second.seconds;
            return a.first < b.first;
        };
        const std::size_t destinations = std::min(topLimit, numbers.size());
        std::partial_sort(numbers.begin(), numbers.begin() + static_cast<long>(destinations), numbers.end(), before);
        for (std::size_t i = 0; i < destinations; ++i)
            report.topDestinations.push_back(Ranked{numbers[i].first, "", numbers[i].second});
    }

    for (auto& [name, ranked] : callers_) report.topCallers.push_back(std::move(ranked));
    const auto byCost = [&](const Ranked& a, const Ranked& b) {
        if (a.totals.cost != b.totals.cost) return a.totals.cost > b.totals.cost;
        return byCalls(a, b);
    };
    const std::size_t callers = std::min(topLimit, report.topCallers.size());
    std::partial_sort(report.topCallers.begin(), report.topCallers.begin() + static_cast<long>(callers),
                      report.topCallers.end(), byCost);
    report.topCallers.resize(callers);

    const auto listed = [](std::vector<Kept>& kept, CallList& list) {
        std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
            if (a.key1 != b.key1) return a.key1 > b.key1;
            if (a.key2 != b.key2) return a.key2 > b.key2;
            return a.call.start < b.call.start;
        });
        for (Kept& entry : kept) list.calls.push_back(std::move(entry.call));
    };
    listed(long_, report.longCalls);
    listed(afterHours_, report.afterHours);
    listed(international_, report.international);
    finishUnusual(report);
    return report;
}

// ---- Unusual calls.

void ReportBuilder::addUnusual(const RatedCall& call) {
    long long moment = 0;
    const bool timed = call.start.size() >= 19 && parseMoment(call.start, moment);
    if (!call.rated) keep(unrated_, timed ? -moment : 0, 0, call);

    long days = 0;
    int hour = -1;
    const bool hourKnown = call.start.size() >= 13 && parseDate(std::string_view(call.start).substr(0, 10), days) &&
                           parseNumber(std::string_view(call.start).substr(11, 2), hour) && hour < 24;
    const bool offHours = hourKnown && (hour < workdayStartHour || hour >= workdayEndHour || weekdayOf(days) >= 6);
    const bool risky = riskyNumber(call.callee);
    const bool costly =
        risky || call.category == internationalCategory || (call.category == premiumCategory && call.cost > 0);
    if (offHours && costly) {
        ++report_.unusual.offHours.count;
        // Satellite numbers first, and of those the ones nobody answers for.
        keep(offHours_, (risky ? 2 : 0) + (call.known || !report_.unusual.directoryUsed ? 0 : 1), call.cost, call);
    }
    if (call.seconds > unusualLongSeconds) {
        ++report_.unusual.longCalls.count;
        keep(veryLong_, call.seconds, call.cost, call);
    }
    if (!call.known) {
        const std::string& number = call.caller.empty() ? call.account : call.caller;
        UnlistedCaller& unlisted = unlisted_[number];
        if (unlisted.number.empty()) unlisted.number = number.empty() ? std::string("(none)") : number;
        unlisted.totals.add(call.seconds, call.cost, call.rated);
        if (!call.start.empty()) {
            if (unlisted.first.empty() || call.start < unlisted.first) unlisted.first = call.start;
            if (call.start > unlisted.last) unlisted.last = call.start;
        }
    }
    // Internal calls cost nothing: a burst of them is no one's bill.
    if (timed && !call.callee.empty() && call.category != knownCategories[0]) {
        const std::string& caller = call.caller.empty() ? call.account : call.caller;
        const auto [index, added] = callerIndex_.emplace(caller, callerNames_.size());
        if (added) callerNames_.push_back(caller);
        toNumbers_[call.callee].push_back(ToNumber{moment, call.cost, index->second});
    }
}

void ReportBuilder::finishUnusual(Report& report) {
    const auto listed = [](std::vector<Kept>& kept, CallList& list) {
        std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
            if (a.key1 != b.key1) return a.key1 > b.key1;
            if (a.key2 != b.key2) return a.key2 > b.key2;
            return a.call.start < b.call.start;
        });
        for (Kept& entry : kept) list.calls.push_back(std::move(entry.call));
    };
    UnusualCalls& unusual = report.unusual;
    listed(offHours_, unusual.offHours);
    listed(veryLong_, unusual.longCalls);
    report.unratedCalls.count = report.bill.total.unrated;
    listed(unrated_, report.unratedCalls);

    if (unusual.directoryUsed) {
        for (auto& [number, unlisted] : unlisted_) {
            unusual.unlistedCalls += unlisted.totals.calls;
            unusual.unlisted.push_back(std::move(unlisted));
        }
        std::sort(unusual.unlisted.begin(), unusual.unlisted.end(),
                  [](const UnlistedCaller& a, const UnlistedCaller& b) {
                      if (a.totals.cost != b.totals.cost) return a.totals.cost > b.totals.cost;
                      if (a.totals.calls != b.totals.calls) return a.totals.calls > b.totals.calls;
                      return a.number < b.number;
                  });
    }
    unlisted_.clear();

    // The densest hour of each number: a window that opens at each call in
    // time order and holds every call starting before the hour is out.
    for (auto& [callee, calls] : toNumbers_) {
        if (static_cast<long long>(calls.size()) < burstCalls) continue;
        std::sort(calls.begin(), calls.end(), [](const ToNumber& a, const ToNumber& b) { return a.at < b.at; });
        std::size_t best = 0, bestEnd = 0, end = 0;
        for (std::size_t first = 0; first < calls.size(); ++first) {
            end = std::max(end, first);
            while (end < calls.size() && calls[end].at - calls[first].at < burstWindowSeconds) ++end;
            if (end - first > bestEnd - best) best = first, bestEnd = end;
        }
        if (static_cast<long long>(bestEnd - best) < burstCalls) continue;
        Burst burst;
        burst.callee = callee;
        burst.calls = static_cast<long long>(bestEnd - best);
        burst.first = momentText(calls[best].at);
        burst.last = momentText(calls[bestEnd - 1].at);
        burst.periodCalls = static_cast<long long>(calls.size());
        std::map<std::string, long long> callers;
        for (std::size_t i = best; i < bestEnd; ++i) {
            burst.cost += calls[i].cost;
            ++callers[callerNames_[calls[i].caller]];
        }
        std::vector<std::pair<std::string, long long>> ranked(callers.begin(), callers.end());
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        for (auto& entry : ranked) burst.callers.push_back(std::move(entry.first));
        unusual.bursts.push_back(std::move(burst));
    }
    toNumbers_.clear();
    callerIndex_.clear();
    callerNames_.clear();
    std::sort(unusual.bursts.begin(), unusual.bursts.end(), [](const Burst& a, const Burst& b) {
        if (a.calls != b.calls) return a.calls > b.calls;
        if (a.cost != b.cost) return a.cost > b.cost;
        return a.callee < b.callee;
    });
}

}  // namespace quelvar::report
