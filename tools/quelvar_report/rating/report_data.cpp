#include "quelvar_report/rating/report_data.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace quelvar::report {
namespace {

std::string yuan(Li amount, int decimals) {
    const bool negative = amount < 0;
    // Negative amounts only come from a hand-made tariff; shown, not hidden.
    unsigned long long li = negative ? 0ull - static_cast<unsigned long long>(amount) : static_cast<unsigned long long>(amount);
    if (decimals == 2) li = (li + 5) / 10;
    const unsigned long long scale = decimals == 2 ? 100 : 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%0*llu", negative ? "-" : "", li / scale, decimals, li % scale);
    return text;
}

}  // namespace

std::string yuanCents(Li amount) { return yuan(amount, 2); }
std::string yuanExact(Li amount) { return yuan(amount, 3); }

long long fenRounded(Li amount) { return amount < 0 ? -((-amount + 5) / 10) : (amount + 5) / 10; }

std::string yuanFromFen(long long fen) { return yuan(fen * 10, 2); }

std::vector<long long> fenAddingUp(const std::vector<Li>& parts) {
    std::vector<long long> fen(parts.size());
    std::vector<std::size_t> order(parts.size());
    Li sum = 0;
    long long cut = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        sum += parts[i];
        // Towards minus infinity, so that every part's remainder is 0..9 li.
        fen[i] = parts[i] >= 0 ? parts[i] / 10 : -((-parts[i] + 9) / 10);
        cut += fen[i];
        order[i] = i;
    }
    long long left = fenRounded(sum) - cut;
    const auto remainder = [&](std::size_t i) { return parts[i] - fen[i] * 10; };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return remainder(a) > remainder(b); });
    // 0 <= left <= parts.size(): the cuts lose under a fen each, the total's
    // rounding at most half of one.
    for (std::size_t i = 0; left > 0 && i < order.size(); ++i, --left) ++fen[order[i]];
    return fen;
}

bool riskyNumber(std::string_view callee) {
    for (const std::string_view prefix : riskyPrefixes)
        if (callee.starts_with(prefix)) return true;
    return false;
}

}  // namespace quelvar::report
