#pragma once
// Totals per called number over a month of calls, where nearly every call
// has a number of its own: a number of up to 30 digits is packed into 128
// bits and counted in one flat table, without a string or a node per number.
// Anything else (letters, '*', longer numbers) is counted in a map.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

class NumberTally {
public:
    void add(std::string_view number, long long seconds, Li cost, bool rated);
    // Every number with its totals, in no particular order.
    std::vector<std::pair<std::string, Totals>> all() const;

private:
    struct Key {
        std::uint64_t high = 0, low = 0;
        bool operator==(const Key&) const = default;
    };
    static bool pack(std::string_view number, Key& key);
    static std::string unpack(const Key& key);
    static std::size_t hash(const Key& key);
    void grow();

    std::vector<std::uint32_t> slots_;  // 0 for empty, else an index into entries_ + 1
    std::vector<std::pair<Key, Totals>> entries_;
    std::unordered_map<std::string, Totals> others_;
};

}  // namespace quelvar::report
