#pragma once
#include <array>
#include <string>
#include <string_view>

#include "core/time.h"

namespace quelvar {

// The keys of the record datagrams of the last 10 seconds, so that a
// repeat is not filed twice. A fixed table: when it is full, new keys are
// not remembered.
struct RecentRecordTable {
    static constexpr std::size_t entryCount = 512;
    static constexpr std::size_t longestKey = 127;
    static constexpr TimeValue windowSeconds = 10;

    struct Entry {
        std::string key;  // empty marks a free entry
        TimeValue stamp = 0;
        // What the first copy was acknowledged with, to answer its repeats.
        std::wstring acknowledgement;
    };
    std::array<Entry, entryCount> entries;
};

// The table of the running process.
extern RecentRecordTable recentRecords;

// Sets every entry free.
void clearRecentRecords(RecentRecordTable& table = recentRecords);

// True when the key was seen within the window; that renews its stamp, and
// `acknowledgement` receives what its first copy was acknowledged with.
// Otherwise the key is remembered (if an entry is free) and the answer is
// false. An empty key is never a repeat. Keys are cut to 127 bytes.
bool isRepeatedRecord(std::string_view key, TimeValue now, std::wstring* acknowledgement = nullptr,
                      RecentRecordTable& table = recentRecords);

// Notes what a remembered key's datagram was acknowledged with.
void rememberAcknowledgement(std::string_view key, const std::wstring& acknowledgement,
                             RecentRecordTable& table = recentRecords);

// Forgets a key, so that the next copy of its datagram counts as new.
void forgetRecord(std::string_view key, RecentRecordTable& table = recentRecords);

}  // namespace quelvar
