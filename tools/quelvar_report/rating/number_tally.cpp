#include "quelvar_report/rating/number_tally.h"

namespace quelvar::report {

// Length in the top 5 bits of `high`, then 4 bits a digit from the low end.
bool NumberTally::pack(std::string_view number, Key& key) {
    if (number.empty() || number.size() > 30) return false;
    key = Key{static_cast<std::uint64_t>(number.size()) << 59, 0};
    for (std::size_t i = 0; i < number.size(); ++i) {
        const char c = number[i];
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (i < 16) key.low |= digit << (4 * i);
        else key.high |= digit << (4 * (i - 16));
    }
    return true;
}

std::string NumberTally::unpack(const Key& key) {
    const auto length = static_cast<std::size_t>(key.high >> 59);
    std::string number(length, '0');
    for (std::size_t i = 0; i < length; ++i)
        number[i] = static_cast<char>('0' + ((i < 16 ? key.low >> (4 * i) : key.high >> (4 * (i - 16))) & 0xF));
    return number;
}

std::size_t NumberTally::hash(const Key& key) {
    std::uint64_t x = key.low ^ (key.high * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return static_cast<std::size_t>(x ^ (x >> 31));
}

void NumberTally::grow() {
    slots_.assign(slots_.empty() ? 1024 : slots_.size() * 2, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        std::size_t at = hash(entries_[index].first) & mask;
        while (slots_[at]) at = (at + 1) & mask;
        slots_[at] = static_cast<std::uint32_t>(index + 1);
    }
}

void NumberTally::add(std::string_view number, long long seconds, Li cost, bool rated) {
    Key key;
    if (!pack(number, key)) {
        others_[std::string(number)].add(seconds, cost, rated);
        return;
    }
    if ((entries_.size() + 1) * 2 > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash(key) & mask;
    while (slots_[at]) {
        auto& entry = entries_[slots_[at] - 1];
        if (entry.first == key) {
            entry.second.add(seconds, cost, rated);
            return;
        }
        at = (at + 1) & mask;
    }
    entries_.emplace_back(key, Totals{});
    entries_.back().second.add(seconds, cost, rated);
    slots_[at] = static_cast<std::uint32_t>(entries_.size());
}

std::vector<std::pair<std::string, Totals>> NumberTally::all() const {
    std::vector<std::pair<std::string, Totals>> numbers;
    numbers.reserve(entries_.size() + others_.size());
    for (const auto& [key, totals] : entries_) numbers.emplace_back(unpack(key), totals);
    for (const auto& [number, totals] : others_) numbers.emplace_back(number, totals);
    return numbers;
}

}  // namespace quelvar::report
