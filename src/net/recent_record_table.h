#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/time.h"

namespace quelvar {

// The keys of the record datagrams of the last 10 seconds, so that a
// repeat is not filed twice. When it is full, new keys are not remembered.
// It holds enough keys for a 10-second window at well over the collector's
// top rate; a table of a few hundred keys would be full, and repeats filed
// twice, at a few dozen records a second.
struct RecentRecordTable {
    static constexpr std::size_t defaultCapacity = std::size_t{1} << 18;
    static constexpr std::size_t longestKey = 127;
    static constexpr TimeValue windowSeconds = 10;

    struct Entry {
        TimeValue stamp = 0;
        // What the first copy was acknowledged with, to answer its repeats.
        std::string acknowledgement;
    };

    explicit RecentRecordTable(std::size_t keys = defaultCapacity) : capacity(keys) {}

    std::size_t capacity;
    std::unordered_map<std::string, Entry> entries;
    // Every stamp given, oldest first, so that the sweep stops at the first
    // that is still in the window.
    std::deque<std::pair<TimeValue, std::string>> stamps;
    TimeValue latest = 0;
};

// The table of the running process.
extern RecentRecordTable recentRecords;

// Sets every entry free.
void clearRecentRecords(RecentRecordTable& table = recentRecords);

// True when the key was seen within the window; that renews its stamp, and
// `acknowledgement` receives what its first copy was acknowledged with.
// Otherwise the key is remembered (if there is room) and the answer is
// false. An empty key is never a repeat. Keys are cut to 127 bytes.
bool isRepeatedRecord(std::string_view key, TimeValue now, std::wstring* acknowledgement = nullptr,
                      RecentRecordTable& table = recentRecords);

// Notes what a remembered key's datagram was acknowledged with.
void rememberAcknowledgement(std::string_view key, const std::wstring& acknowledgement,
                             RecentRecordTable& table = recentRecords);

// Forgets a key, so that the next copy of its datagram counts as new.
void forgetRecord(std::string_view key, RecentRecordTable& table = recentRecords);

}  // namespace quelvar
