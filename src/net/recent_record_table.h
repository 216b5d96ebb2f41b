#pragma once
#include <cstddef>
#include <list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/time.h"

namespace quelvar {

// The keys of the record datagrams of the last 10 seconds, so that a repeat
// is not filed twice, with what each was acknowledged with, so that a repeat
// is answered alike. It holds enough keys for a 10-second window at well
// over the collector's top rate; a table of a few hundred keys would be
// full, and repeats filed twice, at a few dozen records a second. When it is
// full, each sender has a fair share: a new key takes the place of the
// oldest key of the sender holding the most keys if that sender holds more
// than the new key's, and otherwise of its own sender's oldest; so a sender
// that floods the table only ever pushes out its own keys. The sender is the
// part of the key before its first blank (see repeatKeyFor). The receive
// loop that uses it owns it, and keeps only the keys of datagrams it
// answered or filed.
class RecentRecordTable {
public:
    static constexpr std::size_t defaultCapacity = std::size_t{1} << 18;
    // Room for a key made by `repeatKeyFor`.
    static constexpr std::size_t longestKey = 255;
    static constexpr TimeValue windowSeconds = 10;

    RecentRecordTable() = default;
    explicit RecentRecordTable(std::size_t capacity) : capacity_(capacity) {}

    // Sets every entry free.
    void clearRecentRecords();

    // True when the key was seen within the window; that renews its stamp,
    // and `acknowledgement` receives what its first copy was acknowledged
    // with. Otherwise the key is remembered and the answer is false. An
    // empty key is never a repeat. Keys are cut to 255 bytes.
    bool isRepeatedRecord(std::string_view key, TimeValue now, std::string* acknowledgement = nullptr);

    // Notes what a remembered key's datagram was acknowledged with.
    void rememberAcknowledgement(std::string_view key, std::string acknowledgement);

    // Forgets a key, so that the next copy of its datagram counts as new.
    void forgetRecord(std::string_view key);

    std::size_t size() const { return entries_.size(); }
    // How many keys a sender (a key's part before its first blank) holds.
    std::size_t keysOf(std::string_view sender) const;

private:
    struct Entry;
    using Place = std::list<Entry>::iterator;
    // A sender's entries, oldest stamp first.
    struct SenderKeys {
        std::list<Place> byAge;
    };
    using Senders = std::map<std::string, SenderKeys, std::less<>>;
    struct Entry {
        std::string key;
        TimeValue stamp = 0;
        std::string acknowledgement;
        Senders::iterator sender;
        std::list<Place>::iterator inSender;
    };

    void sweep(TimeValue now);
    void add(std::string_view key, TimeValue now);
    void remove(Place entry);
    // Moves a sender between counts in `holders_`.
    void counted(Senders::iterator sender, std::size_t before);
    // The entry a new key of `sender` takes the place of in a full table.
    Place placeGivenUp(std::string_view sender);

    std::size_t capacity_ = defaultCapacity;
    // The keys, oldest stamp first: a renewal moves its entry to the back, so
    // the sweep stops at the first that is still in the window, and a key
    // repeated at any rate takes one entry.
    std::list<Entry> byAge_;
    // The same entries by key; the keys view the entries' own.
    std::unordered_map<std::string_view, Place> entries_;
    Senders senders_;
    // Every sender with keys, by how many it holds; the names view the
    // senders' own.
    std::set<std::pair<std::size_t, std::string_view>> holders_;
    TimeValue latest_ = 0;
};

// The key a datagram is known by against repeats: its call's key, with the
// sender's address and its switch (MAC, empty where the datagram has none),
// so that no other sender can take a call's place in the table or be
// answered from it. Empty, and so never a repeat, without a call key. The
// MAC counts with its first 64 bytes and the call key with its first 127.
std::string repeatKeyFor(std::string_view senderAddress, std::string_view mac, std::string_view callKey);

}  // namespace quelvar
