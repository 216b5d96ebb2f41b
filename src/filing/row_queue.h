#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// The rows that wait for a workbook that cannot take them now, in a file
// beside it, `<workbook>.queue` (FORMAT.md, "The queue"): a header with the
// number of rows at its start that are in the workbook already, then one
// entry a row, each carrying its length and its checksum. A row is
// appended and put on the disk before the next comes.

struct QueuedRow {
    std::wstring sheet;
    std::vector<std::wstring> columns;
    std::vector<std::wstring> values;  // one a column
    friend bool operator==(const QueuedRow&, const QueuedRow&) = default;
};

// The header of a new queue, and a row's entry.
std::string queueHeader();
std::string encodeQueuedRow(const QueuedRow& row);

// Where the count of rows already in the workbook lies, and its bytes.
constexpr std::uint64_t queueAppliedAt = 8;
std::string queueAppliedField(std::uint32_t applied);

struct QueueContents {
    enum class State {
        whole,
        // A crash cut the last entry, or the header, short: nothing follows
        // it that reads as an entry. Cut the file to `wholeSize` (a file
        // shorter than its header is no queue yet).
        cutShort,
        // Something else is wrong at `damagedAt`: the file is left alone.
        damaged,
    };
    State state = State::whole;
    std::uint32_t applied = 0;
    std::vector<QueuedRow> rows;  // those of `applied` too
    std::uint64_t wholeSize = 0;
    std::uint64_t damagedAt = 0;
};

// Never reads outside `bytes`, whatever they hold.
QueueContents readQueue(std::string_view bytes);

}  // namespace quelvar
