// A tariff file and a directory as someone might save them, then calls rated
// by them: reading either never crashes, and a rating always ends with a
// cost its steps add up to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "quelvar_report/reading/csv_file.h"
#include "quelvar_report/reading/dates.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/tariffs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quelvar::report;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<CsvRow> rows;
    std::string failure;
    if (!parseCsv(bytes, rows, failure).ok()) return 0;
    Directory directory;
    (void)Directory::fromRows("directory.csv", rows, directory);
    (void)directory.find("00-1A-2B-3C-4D-5E", "8001", "2026-03-02");
    Tariffs tariffs;
    if (!Tariffs::fromRows("tariffs.csv", rows, tariffs).ok()) return 0;
    // Calls at moments spread over the week, of lengths up to a month.
    std::uint64_t seed = size;
    for (const std::uint8_t byte : bytes.substr(0, 64)) seed = seed * 131 + byte;
    const char* const categories[] = {"内线", "市话", "国内长途", "国际长途", "特服电话", ""};
    const char* const callees[] = {"8001", "075512345678", "0085223456789", "110", "", "00"};
    for (int call = 0; call < 16; ++call) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const long long start = 20454LL * 86400 + static_cast<long long>(seed >> 40) % (400LL * 86400);
        const long long seconds = static_cast<long long>(seed >> 20) % (call < 12 ? 4000 : 31LL * 86400);
        const std::string moment = momentText(start);
        const Rating rating = tariffs.rate(CallToRate{moment, seconds, categories[call % 6], callees[(call / 6 + seed) % 6]});
        Li sum = 0;
        for (const RatingStep& step : rating.steps) sum += step.amount;
        if (rating.rated && sum != rating.cost) std::abort();
        if (!rating.rated && rating.cost != 0) std::abort();
        if (rating.cost < 0) std::abort();
    }
    return 0;
}
