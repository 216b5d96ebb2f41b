#include "net/recent_record_table.h"

#include <iterator>
#include <string>

namespace quelvar {

namespace {

std::string_view senderOf(std::string_view key) { return key.substr(0, key.find(' ')); }

}  // namespace

void RecentRecordTable::counted(Senders::iterator sender, std::size_t before) {
    if (before > 0) holders_.erase({before, sender->first});
    const std::size_t now = sender->second.byAge.size();
    if (now > 0) holders_.insert({now, sender->first});
}

void RecentRecordTable::remove(Place entry) {
    const Senders::iterator sender = entry->sender;
    const std::size_t before = sender->second.byAge.size();
    sender->second.byAge.erase(entry->inSender);
    counted(sender, before);
    if (sender->second.byAge.empty()) senders_.erase(sender);
    entries_.erase(entry->key);
    byAge_.erase(entry);
}

void RecentRecordTable::add(std::string_view key, TimeValue now) {
    const std::string_view name = senderOf(key);
    auto sender = senders_.find(name);
    if (sender == senders_.end()) sender = senders_.try_emplace(std::string(name)).first;
    const std::size_t before = sender->second.byAge.size();
    byAge_.push_back(Entry{std::string(key), now, {}, sender, {}});
    const Place entry = std::prev(byAge_.end());
    sender->second.byAge.push_back(entry);
    entry->inSender = std::prev(sender->second.byAge.end());
    entries_.emplace(entry->key, entry);
    counted(sender, before);
}

RecentRecordTable::Place RecentRecordTable::placeGivenUp(std::string_view name) {
    const auto own = senders_.find(name);
    const std::size_t held = own == senders_.end() ? 0 : own->second.byAge.size();
    const auto& [most, largest] = *holders_.rbegin();
    if (most > held) return senders_.find(largest)->second.byAge.front();
    return own->second.byAge.front();
}

void RecentRecordTable::sweep(TimeValue now) {
    const auto expired = [&](const Entry& entry) { return now - entry.stamp > windowSeconds; };
    if (now < latest_) {
        // The clock went back: the order by age no longer holds.
        for (auto entry = byAge_.begin(); entry != byAge_.end();) {
            const Place next = std::next(entry);
            if (expired(*entry)) remove(entry);
            entry = next;
        }
        byAge_.sort([](const Entry& a, const Entry& b) { return a.stamp < b.stamp; });
        for (auto& [name, keys] : senders_) keys.byAge.clear();
        for (auto entry = byAge_.begin(); entry != byAge_.end(); ++entry) {
            std::list<Place>& keys = entry->sender->second.byAge;
            keys.push_back(entry);
            entry->inSender = std::prev(keys.end());
        }
    }
    latest_ = now;
    while (!byAge_.empty() && expired(byAge_.front())) remove(byAge_.begin());
}

void RecentRecordTable::clearRecentRecords() {
    entries_.clear();
    holders_.clear();
    senders_.clear();
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
        std::list<Place>& keys = entry->sender->second.byAge;
        keys.splice(keys.end(), keys, entry->inSender);
        if (acknowledgement != nullptr) *acknowledgement = entry->acknowledgement;
        return true;
    }
    if (capacity_ == 0) return false;
    if (entries_.size() >= capacity_) remove(placeGivenUp(senderOf(key)));
    add(key, now);
    return false;
}

void RecentRecordTable::rememberAcknowledgement(std::string_view key, std::string acknowledgement) {
    if (const auto found = entries_.find(key.substr(0, longestKey)); found != entries_.end())
        found->second->acknowledgement = std::move(acknowledgement);
}

void RecentRecordTable::forgetRecord(std::string_view key) {
    const auto found = entries_.find(key.substr(0, longestKey));
    if (found != entries_.end()) remove(found->second);
}

std::size_t RecentRecordTable::keysOf(std::string_view sender) const {
    const auto found = senders_.find(sender);
    return found == senders_.end() ? 0 : found->second.byAge.size();
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
