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

std::vector<long long> fenAddingUp(const std::vector<Li>& parts, long long totalFen) {
    std::vector<long long> fen = fenAddingUp(parts);
    if (fen.empty()) return fen;
    long long shown = 0;
    for (const long long part : fen) shown += part;
    // A total within a fen of its parts' exact sum moves a fen or none; one
    // further off still comes out even, the parts lost the least moving last.
    std::vector<std::size_t> order(parts.size());
    std::iota(order.begin(), order.end(), 0);
    const auto gain = [&](std::size_t i) { return fen[i] * 10 - parts[i]; };  // what showing it gained
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return gain(a) < gain(b); });
    const std::size_t n = order.size();
    for (std::size_t i = 0; shown < totalFen; ++shown, i = (i + 1) % n) ++fen[order[i]];
    for (std::size_t i = 0; shown > totalFen; --shown, i = (i + 1) % n) --fen[order[n - 1 - i]];
    return fen;
}

BillFen billFen(const Bill& bill) {
    BillFen shown;
    std::vector<Li> groups;
    for (const BillGroup& group : bill.groups) groups.push_back(group.total.cost);
    shown.groups = fenAddingUp(groups);
    for (const long long fen : shown.groups) shown.total += fen;
    shown.categories.assign(bill.categories.size(), 0);
    for (std::size_t g = 0; g < bill.groups.size(); ++g) {
        std::vector<Li> parts;
        for (const std::string& category : bill.categories) {
            const auto found = bill.groups[g].byCategory.find(category);
            parts.push_back(found == bill.groups[g].byCategory.end() ? 0 : found->second.cost);
        }
        std::vector<long long>& fen = shown.groupCategories.emplace_back(fenAddingUp(parts, shown.groups[g]));
        for (std::size_t i = 0; i < fen.size(); ++i) {
            shown.categories[i] += fen[i];
            shown.exact = shown.exact && fen[i] * 10 == parts[i];
        }
        shown.exact = shown.exact && shown.groups[g] * 10 == groups[g];
    }
    return shown;
}

bool riskyNumber(std::string_view callee) {
    for (const std::string_view prefix : riskyPrefixes)
        if (callee.starts_with(prefix)) return true;
    return false;
}

}  // namespace quelvar::report
