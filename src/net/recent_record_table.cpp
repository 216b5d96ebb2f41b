#include "net/recent_record_table.h"

#include <iterator>
#include <string>

namespace quelvar {

void RecentRecordTable::sweep(TimeValue now) {
    const auto expired = [&](const Entry& entry) { return now - entry.stamp > windowSeconds; };
    if (now < latest_) {
        // The clock went back: the order by age no longer holds.
        for (auto entry = byAge_.begin(); entry != byAge_.end();) {
            if (!expired(*entry)) {
                ++entry;
                continue;
            }
            entries_.erase(entry->key);
            entry = byAge_.erase(entry);
        }
        byAge_.sort([](const Entry& a, const Entry& b) { return a.stamp < b.stamp; });
    }
    latest_ = now;
    while (!byAge_.empty() && expired(byAge_.front())) {
        entries_.erase(byAge_.front().key);
        byAge_.pop_front();
    }
}

void RecentRecordTable::clearRecentRecords() {
    entries_.clear();
    byAge_.clear();
    latest_ = 0;
}

bool RecentRecordTable::isRepeatedRecord(std::string_view key, TimeValue now, std::string* acknowledgement) {
    if (key.empty()) return false;
    key = key.substr(0, longestKey);
    sweep(now);
    if (const auto found = entries_.find(key); found != entries_.end()) {
        const Place entry = found->second;
        entry->stamp = now;
        byAge_.splice(byAge_.end(), byAge_, entry);
        if (acknowledgement != nullptr) *acknowledgement = entry->acknowledgement;
        return true;
    }
    if (entries_.size() >= capacity_) return false;
    byAge_.push_back(Entry{std::string(key), now, {}});
    entries_.emplace(byAge_.back().key, std::prev(byAge_.end()));
    return false;
}

void RecentRecordTable::rememberAcknowledgement(std::string_view key, std::string acknowledgement) {
    if (const auto found = entries_.find(key.substr(0, longestKey)); found != entries_.end())
        found->second->acknowledgement = std::move(acknowledgement);
}

void RecentRecordTable::forgetRecord(std::string_view key) {
    const auto found = entries_.find(key.substr(0, longestKey));
    if (found == entries_.end()) return;
    const Place entry = found->second;
    entries_.erase(found);
    byAge_.erase(entry);
}

std::string repeatKeyFor(std::string_view senderAddress, std::string_view mac, std::string_view callKey) {
    if (callKey.empty()) return {};
    mac = mac.substr(0, 64);
    callKey = callKey.substr(0, 127);
    // The MAC's length keeps a MAC and a call key apart whatever they hold;
    // an address has no spaces.
    std::string key(senderAddress.substr(0, 45));
    key.append(" ").append(std::to_string(mac.size())).append(" ").append(mac).append(callKey);
    return key;
}

}  // namespace quelvar
