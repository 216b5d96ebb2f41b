#include "quelvar_report/rating/bill.h"

#include <algorithm>

#include "quelvar_report/reading/dates.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/index/schema.h"

namespace quelvar::report {
namespace {

struct Looked {
    bool known = false;
    const Person* person = nullptr;
};

}  // namespace

std::string billGroupOf(const RatedCall& call, const std::string& by) {
    if (by == "switch") return call.switchName.empty() ? std::string("(workbook)") : call.switchName;
    if (by == "department") return departmentShown(call);
    // A person is a row per department they made calls for.
    if (by == "person") return call.personKey + '\x1f' + departmentShown(call);
    const std::string& value = by == "trunk" ? call.trunk : by == "route" ? call.route : call.number;
    return value.empty() ? std::string("(none)") : value;
}

std::string departmentShown(const RatedCall& call) {
    if (!call.known) return std::string(unlistedDepartment);
    return call.department.empty() ? std::string("(no department)") : call.department;
}

void sortGroups(std::vector<BillGroup>& groups, const std::string& sort) {
    std::stable_sort(groups.begin(), groups.end(), [&](const BillGroup& a, const BillGroup& b) {
        if (a.unlisted != b.unlisted) return b.unlisted;
        if (sort == "cost" && a.total.cost != b.total.cost) return a.total.cost > b.total.cost;
        if (sort == "calls" && a.total.calls != b.total.calls) return a.total.calls > b.total.calls;
        if (a.name != b.name) return a.name < b.name;
        return a.department < b.department;
    });
}

void nameNamesakes(std::vector<BillGroup>& groups, const std::vector<std::string>& people) {
    std::map<std::string, std::set<std::string>> peopleByName;
    for (std::size_t i = 0; i < groups.size(); ++i)
        if (!groups[i].unlisted) peopleByName[groups[i].name].insert(people[i]);
    for (BillGroup& group : groups) {
        if (group.unlisted || peopleByName[group.name].size() < 2 || group.extensions.empty()) continue;
        std::string numbers;
        for (const std::string& number : group.extensions) numbers += (numbers.empty() ? "" : ", ") + number;
        group.name += " (" + numbers + ")";
    }
}

Status rateCalls(sqlite3* database, const RatingPass& pass, const Tariffs& tariffs, const Directory& directory,
                 const std::function<void(const RatedCall&)>& each, long long* incomingLeftOut) {
    Statement query(
        database,
        std::string("SELECT switch, call_id, account, caller, callee, category, COALESCE(start, ''), substr(") + when +
            ", 1, 10), seconds, legs, type IN ('IN', 'FI'), flags, type, route, id, trunk FROM calls " + pass.where +
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
    const CallCategories plain;
    const CallCategories& categories = pass.categories ? *pass.categories : plain;
    std::string key, type, route;
    RatedCall call;
    while (query.step()) {
        call.caller.assign(query.view(3));
        call.callee.assign(query.view(4));
        call.filedCategory.assign(query.view(5));
        type.assign(query.view(12));
        route.assign(query.view(13));
        CallCategories::Decision decided = categories.decide(route, type, call.caller, call.callee, call.filedCategory);
        if (!pass.category.empty() && decided.category != pass.category) continue;
        call.incoming = query.integer(10) != 0;
        if (incomingLeftOut && call.incoming) {
            ++*incomingLeftOut;
            continue;
        }
        call.switchName.assign(query.view(0));
        call.callId.assign(query.view(1));
        call.account.assign(query.view(2));
        call.category = std::move(decided.category);
        call.categoryFromNumber = decided.fromNumber;
        call.start.assign(query.view(6));
        call.day.assign(query.view(7));
        call.seconds = query.integer(8);
        call.legs = static_cast<int>(query.integer(9));
        call.id = query.integer(14);
        call.trunk.assign(query.view(15));
        call.route = route;
        // An incoming call is the called extension's, never the outside caller's.
        static const std::string none;
        const std::string& account = call.incoming ? none : call.account;
        const std::string& extension = call.incoming ? call.callee : call.caller;
        call.number = extension.empty() ? account : extension;
        const Looked* looked = nullptr;
        static const Looked nobody;
        if (directory.empty()) {
            looked = &nobody;
        } else {
            const auto lookUp = [&] {
                Cached made;
                const Person* person = directory.findCaller(call.switchName, account, extension, call.day, &made.dated);
                if (person) made.looked = Looked{true, person};
                return made;
            };
            key.assign(call.switchName).append(1, '\x1f').append(account).append(1, '\x1f').append(extension);
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
        call.person = looked->known ? looked->person->name : call.number;
        call.department = looked->known ? looked->person->department : std::string();
        call.personKey = looked->known ? looked->person->key : call.number;
        call.personId = looked->known ? looked->person->id : std::string();
        Rating rating = tariffs.rate(
            CallToRate{call.start, call.seconds, call.category, call.callee, (query.integer(11) & impossibleTime) != 0},
            false);
        call.rated = rating.rated;
        call.cost = rating.cost;
        call.tariffVersion = rating.rated ? rating.version : std::string();
        call.unratedWhy = std::move(rating.why);
        call.group = billGroupOf(call, pass.by);
        each(call);
    }
    return query.status();
}

ReportBuilder::ReportBuilder(std::string from, std::string to, std::string by, std::string sort) : sort_(std::move(sort)) {
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

void ReportBuilder::addFigures(const RatedCall& call, const Totals& totals) {
    Bill& bill = report_.bill;
    if (!call.known && !call.number.empty() && report_.unusual.directoryUsed) unlistedExtensions_.insert(call.number);
    BillGroup& group = groups_[call.group];
    if (group.name.empty()) {
        const bool byPerson = bill.by == "person";
        group.name = byPerson ? call.person : call.group;
        if (byPerson) {
            group.department = call.known ? call.department : std::string(unlistedDepartment);
            group.id = call.personId;
            groupPeople_[call.group] = call.personKey;
        }
        group.unlisted = !call.known && (byPerson || bill.by == "department");
    }
    if ((bill.by == "person" || (bill.by == "department" && group.unlisted)) && !call.number.empty())
        groupNumbers_[call.group].insert(call.number);
    group.total.add(totals);
    group.byCategory[call.category].add(totals);
    bill.total.add(totals);
    bill.byCategory[call.category].add(totals);
    if (call.rated && !call.tariffVersion.empty()) versions_[call.tariffVersion] += totals.calls;
    departments_[departmentShown(call)][call.category].add(totals);
    days_[call.day].add(totals);
}

void ReportBuilder::add(const RatedCall& call) {
    addFigures(call, Totals{1, call.seconds, call.cost, call.rated ? 0 : 1});
    if (!call.rated) {
        ++unratedReasons_[call.unratedWhy];
        UnratedCalls& unrated = unrated_[call.unratedWhy];
        ++unrated.calls;
        unrated.keys.push_back(call.callId);
    }
    if (!call.callee.empty()) destinations_.add(call.callee, call.seconds, call.cost, call.rated);
    // Namesakes are two callers.
    if (!call.personKey.empty()) {
        Ranked& caller = callers_[call.personKey];
        if (caller.name.empty()) caller.name = call.person;
        caller.detail = call.known ? call.department : std::string();
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
    report.unrated = std::move(unrated_);
    report.unlistedExtensions.assign(unlistedExtensions_.begin(), unlistedExtensions_.end());
    std::vector<std::string> people;
    for (auto& [key, group] : groups_) {
        const auto numbers = groupNumbers_.find(key);
        if (numbers != groupNumbers_.end()) group.extensions.assign(numbers->second.begin(), numbers->second.end());
        const auto person = groupPeople_.find(key);
        people.push_back(person == groupPeople_.end() ? std::string() : person->second);
        bill.groups.push_back(std::move(group));
    }
    if (bill.by == "person") nameNamesakes(bill.groups, people);
    sortGroups(bill.groups, sort_);
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
    std::stable_sort(report.departments.begin(), report.departments.end(), [&](const auto& a, const auto& b) {
        const bool aUnlisted = a.first == unlistedDepartment, bUnlisted = b.first == unlistedDepartment;
        if (aUnlisted != bUnlisted) return bUnlisted;
        return costOf(a.second) > costOf(b.second);
    });

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
    if (!call.rated) keep(firstUnrated_, timed ? -moment : 0, 0, call);

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
    listed(firstUnrated_, report.unratedCalls);

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
