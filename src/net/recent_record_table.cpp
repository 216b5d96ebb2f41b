#include "net/recent_record_table.h"

namespace quelvar {

RecentRecordTable recentRecords;

namespace {

std::string_view cut(std::string_view key) { return key.substr(0, RecentRecordTable::longestKey); }

RecentRecordTable::Entry* find(std::string_view key, RecentRecordTable& table) {
    for (auto& entry : table.entries)
        if (!entry.key.empty() && entry.key == key) return &entry;
    return nullptr;
}

void release(RecentRecordTable::Entry& entry) {
    entry.key.clear();
    entry.stamp = 0;
    entry.acknowledgement.clear();
}

}  // namespace

void clearRecentRecords(RecentRecordTable& table) {
    for (auto& entry : table.entries) release(entry);
}

bool isRepeatedRecord(std::string_view key, TimeValue now, std::wstring* acknowledgement, RecentRecordTable& table) {
    key = cut(key);
    if (key.empty()) return false;
    for (auto& entry : table.entries)
        if (!entry.key.empty() && now - entry.stamp > RecentRecordTable::windowSeconds) release(entry);
    if (auto* seen = find(key, table)) {
        seen->stamp = now;
        if (acknowledgement != nullptr) *acknowledgement = seen->acknowledgement;
        return true;
    }
    for (auto& entry : table.entries) {
        if (entry.key.empty()) {
            entry.key = key;
            entry.stamp = now;
            return false;
        }
    }
    return false;
}

void rememberAcknowledgement(std::string_view key, const std::wstring& acknowledgement, RecentRecordTable& table) {
    if (auto* seen = find(cut(key), table)) seen->acknowledgement = acknowledgement;
}

void forgetRecord(std::string_view key, RecentRecordTable& table) {
    if (auto* seen = find(cut(key), table)) release(*seen);
}

}  // namespace quelvar
