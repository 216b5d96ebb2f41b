#include "quelvar_report/rating/report_data.h"

#include <cstdio>

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

}  // namespace quelvar::report
