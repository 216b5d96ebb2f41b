#include "net/recent_record_table.h"

#include <algorithm>
#include <vector>

#include "core/text.h"

namespace quelvar {

RecentRecordTable recentRecords;

namespace {

std::string cut(std::string_view key) { return std::string(key.substr(0, RecentRecordTable::longestKey)); }

void sweep(RecentRecordTable& table, TimeValue now) {
    if (now < table.latest) {
        // The clock went back: the stamps are no longer in order.
        std::erase_if(table.entries,
                      [&](const auto& entry) { return now - entry.second.stamp > RecentRecordTable::windowSeconds; });
        table.stamps.clear();
        for (const auto& [key, entry] : table.entries) table.stamps.emplace_back(entry.stamp, key);
        std::sort(table.stamps.begin(), table.stamps.end());
    }
    table.latest = now;
    while (!table.stamps.empty() && now - table.stamps.front().first > RecentRecordTable::windowSeconds) {
        const auto found = table.entries.find(table.stamps.front().second);
        // A key renewed since has a later stamp further back in the line.
        if (found != table.entries.end() && found->second.stamp == table.stamps.front().first)
            table.entries.erase(found);
        table.stamps.pop_front();
    }
}

}  // namespace

void clearRecentRecords(RecentRecordTable& table) {
    table.entries.clear();
    table.stamps.clear();
    table.latest = 0;
}

bool isRepeatedRecord(std::string_view key, TimeValue now, std::wstring* acknowledgement, RecentRecordTable& table) {
    if (key.empty()) return false;
    const std::string kept = cut(key);
    sweep(table, now);
    if (const auto found = table.entries.find(kept); found != table.entries.end()) {
        found->second.stamp = now;
        table.stamps.emplace_back(now, kept);
        if (acknowledgement != nullptr) *acknowledgement = fromAnsi(found->second.acknowledgement);
        return true;
    }
    if (table.entries.size() >= table.capacity) return false;
    table.entries.emplace(kept, RecentRecordTable::Entry{now, {}});
    table.stamps.emplace_back(now, kept);
    return false;
}

void rememberAcknowledgement(std::string_view key, const std::wstring& acknowledgement, RecentRecordTable& table) {
    if (const auto found = table.entries.find(cut(key)); found != table.entries.end())
        found->second.acknowledgement = toAnsi(acknowledgement);
}

void forgetRecord(std::string_view key, RecentRecordTable& table) { table.entries.erase(cut(key)); }

}  // namespace quelvar
