#include "net/recent_record_table.h"

#include <algorithm>

namespace quelvar {

namespace {

std::string cut(std::string_view key) { return std::string(key.substr(0, RecentRecordTable::longestKey)); }

}  // namespace

void RecentRecordTable::sweep(TimeValue now) {
    if (now < latest_) {
        // The clock went back: the stamps are no longer in order.
        std::erase_if(entries_, [&](const auto& entry) { return now - entry.second.stamp > windowSeconds; });
        stamps_.clear();
        for (const auto& [key, entry] : entries_) stamps_.emplace_back(entry.stamp, key);
        std::sort(stamps_.begin(), stamps_.end());
    }
    latest_ = now;
    while (!stamps_.empty() && now - stamps_.front().first > windowSeconds) {
        const auto found = entries_.find(stamps_.front().second);
        // A key renewed since has a later stamp further back in the line.
        if (found != entries_.end() && found->second.stamp == stamps_.front().first) entries_.erase(found);
        stamps_.pop_front();
    }
}

void RecentRecordTable::clearRecentRecords() {
    entries_.clear();
    stamps_.clear();
    latest_ = 0;
}

bool RecentRecordTable::isRepeatedRecord(std::string_view key, TimeValue now, std::string* acknowledgement) {
    if (key.empty()) return false;
    std::string kept = cut(key);
    sweep(now);
    if (const auto found = entries_.find(kept); found != entries_.end()) {
        found->second.stamp = now;
        stamps_.emplace_back(now, std::move(kept));
        if (acknowledgement != nullptr) *acknowledgement = found->second.acknowledgement;
        return true;
    }
    if (entries_.size() >= capacity_) return false;
    entries_.emplace(kept, Entry{now, {}});
    stamps_.emplace_back(now, std::move(kept));
    return false;
}

void RecentRecordTable::rememberAcknowledgement(std::string_view key, std::string acknowledgement) {
    if (const auto found = entries_.find(cut(key)); found != entries_.end())
        found->second.acknowledgement = std::move(acknowledgement);
}

void RecentRecordTable::forgetRecord(std::string_view key) { entries_.erase(cut(key)); }

}  // namespace quelvar
