#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/time.h"

namespace quelvar {

// Rows without a MAC go into the month's workbook and are never repeats
// nor answered: this rate alone keeps one sender from filling sheet after
// sheet. Each sender (by address) may send up to `burst` such rows at
// once, then `perSecond` a second. A datagram whose rows do not fit is
// neither filed nor answered.
class MaclessRowRate {
public:
    static constexpr std::uint64_t burst = 256;
    static constexpr std::uint64_t perSecond = 2;
    // Senders kept apart; past them, the one nearest a full allowance is
    // forgotten, which costs it nothing it has not nearly got back.
    static constexpr std::size_t senders = 4096;

    // Whether `rows` rows from the sender may be filed now; those that may
    // are counted against it.
    bool admits(const std::string& sender, std::size_t rows, TimeValue now);

private:
    struct Allowance {
        std::uint64_t rows = burst;
        TimeValue at = 0;
    };
    static void refill(Allowance& allowance, TimeValue now);
    void makeRoom(TimeValue now);

    std::unordered_map<std::string, Allowance> allowances_;
};

}  // namespace quelvar
