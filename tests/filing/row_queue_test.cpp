#include "filing/row_queue.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

const QueuedRow first{L"01", {L"帐号", L"被叫"}, {L"8001", L"95588"}};
const QueuedRow second{L"02", {L"帐号", L"被叫", L"线路"}, {L"张三", L"", std::wstring(300, L'9')}};

TEST(RowQueue, GivesBackEveryRowAndTheCountOfThoseInTheWorkbook) {
    std::string bytes = queueHeader() + encodeQueuedRow(first) + encodeQueuedRow(second);
    QueueContents contents = readQueue(bytes);
    EXPECT_EQ(contents.state, QueueContents::State::whole);
    EXPECT_EQ(contents.rows, (std::vector<QueuedRow>{first, second}));
    EXPECT_EQ(contents.applied, 0u);
    EXPECT_EQ(contents.wholeSize, bytes.size());
    bytes.replace(queueAppliedAt, 4, queueAppliedField(2));
    EXPECT_EQ(readQueue(bytes).applied, 2u);
    EXPECT_EQ(readQueue(queueHeader()).rows.size(), 0u);
    // A value may be longer than a cell takes: the workbook refuses it with its own words.
    const QueuedRow long_{L"01", {L"被叫"}, {std::wstring(40000, L'9')}};
    EXPECT_EQ(readQueue(queueHeader() + encodeQueuedRow(long_)).rows, std::vector<QueuedRow>{long_});
}

// A crash cuts only the end short: cut anywhere, the rows before the cut
// are whole and the rest is to go.
TEST(RowQueue, TellsARowACrashCutShortFromDamage) {
    const std::string whole = queueHeader() + encodeQueuedRow(first) + encodeQueuedRow(second);
    const std::size_t secondAt = queueHeader().size() + encodeQueuedRow(first).size();
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const QueueContents contents = readQueue(whole.substr(0, size));
        const bool atARowsEnd = size == 16 || size == secondAt;
        ASSERT_EQ(contents.state, atARowsEnd ? QueueContents::State::whole : QueueContents::State::cutShort) << size;
        EXPECT_EQ(contents.wholeSize, size < 16 ? 0 : size < secondAt ? 16 : secondAt) << size;
        EXPECT_EQ(contents.rows.size(), size < secondAt ? 0u : 1u) << size;
    }
    // Zero bytes where the power went before the row reached the disk.
    EXPECT_EQ(readQueue(whole + std::string(300, '\0')).state, QueueContents::State::cutShort);

    const struct {
        const char* what;
        std::size_t at;
        std::uint64_t damagedAt;
    } damages[] = {
        {"a text of the first row", 30, 16},
        {"the first row's length", 20, 16},
        {"the first row's mark", 16, 16},
        {"the count of rows in the workbook", 8, 8},
        {"the header's mark", 0, 0},
    };
    for (const auto& each : damages) {
        std::string bytes = whole;
        bytes[each.at] ^= each.at == 8 ? 0x07 : 0x40;
        const QueueContents contents = readQueue(bytes);
        EXPECT_EQ(contents.state, QueueContents::State::damaged) << each.what;
        EXPECT_EQ(contents.damagedAt, each.damagedAt) << each.what;
    }
    EXPECT_EQ(readQueue("not a queue at all").state, QueueContents::State::damaged);
}

}  // namespace
}  // namespace quelvar
