#include "net/macless_rows.h"

#include <algorithm>

namespace quelvar {

void MaclessRowRate::refill(Allowance& allowance, TimeValue now) {
    // A clock set back gives nothing, and counts on from the new time.
    if (now > allowance.at)
        allowance.rows = std::min<std::uint64_t>(
            burst,
            allowance.rows + static_cast<std::uint64_t>(std::min<TimeValue>(now - allowance.at, burst)) * perSecond);
    allowance.at = now;
}

void MaclessRowRate::makeRoom(TimeValue now) {
    // Those back at a full allowance need no place; else the nearest to one goes.
    auto nearest = allowances_.end();
    for (auto each = allowances_.begin(); each != allowances_.end();) {
        refill(each->second, now);
        if (each->second.rows == burst) {
            each = allowances_.erase(each);
            continue;
        }
        if (nearest == allowances_.end() || each->second.rows > nearest->second.rows) nearest = each;
        ++each;
    }
    if (allowances_.size() >= senders && nearest != allowances_.end()) allowances_.erase(nearest);
}

bool MaclessRowRate::admits(const std::string& sender, std::size_t rows, TimeValue now) {
    if (rows == 0) return true;
    auto found = allowances_.find(sender);
    if (found == allowances_.end()) {
        if (allowances_.size() >= senders) makeRoom(now);
        found = allowances_.emplace(sender, Allowance{burst, now}).first;
    }
    Allowance& allowance = found->second;
    refill(allowance, now);
    if (allowance.rows < rows) return false;
    allowance.rows -= rows;
    return true;
}

}  // namespace quelvar
