// The files beside a workbook as they may lie on disk: the queue of rows
// that wait for it, and the journal of a change a crash cut short. Whatever
// they hold, they are read without reading outside them, a queue's whole
// rows read back the same once written again, and a journal puts back only
// bytes its files had.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filing/rollback_journal.h"
#include "filing/row_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quelvar;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const QueueContents queue = readQueue(bytes);
    if (queue.state != QueueContents::State::damaged) {
        if (queue.wholeSize > bytes.size() || queue.applied > queue.rows.size()) __builtin_trap();
        std::string again = queueHeader();
        for (const QueuedRow& row : queue.rows) again += encodeQueuedRow(row);
        again.replace(queueAppliedAt, 4, queueAppliedField(queue.applied));
        const QueueContents reread = readQueue(again);
        if (reread.state != QueueContents::State::whole || reread.rows != queue.rows) __builtin_trap();
    }
    std::vector<JournalFile> files;
    if (decodeJournal(bytes, files))
        for (const JournalFile& file : files)
            for (const auto& [offset, old] : file.oldBytes)
                if (offset + old.size() > file.sizeBefore) __builtin_trap();
    return 0;
}
