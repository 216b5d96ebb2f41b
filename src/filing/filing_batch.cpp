#include "filing/filing_batch.h"

#include <algorithm>

#include "filing/undo_reading.h"

namespace quelvar {

// The undo file holds one line for each noted append, "U <datagram>
// <size before> <path in hex>", or after a datagram filed whole the line
// "D <datagram> <key in hex> <answer in hex>", where <datagram> counts the
// datagrams filed. Each datagram writes from the file's start, over what
// the one before left, and the file is cut only at a start and after a
// take-back: reading stops at the first line that is no entry of the first
// line's datagram. In hex no byte of a path or key reads as a line end, and what
// is left of an older line never begins with a capital.

namespace {

constexpr char digits[] = "0123456789abcdef";

void appendHex(std::string& out, std::string_view bytes) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
}

}  // namespace

Status FilingBatch::open(const std::string& path, const std::vector<std::string>& recordBases, Leftover& leftover) {
    leftover = {};
    if (Status opened = undo_.openOwn(path); !opened.ok()) return opened;
    opened_ = true;
    // The lines of the unfinished datagram are taken back as they are read.
    // Cutting only ever shortens, so a file noted twice ends at its first
    // size, the smaller one.
    UndoReading reading;
    const Status read = readUndoFile(undo_, reading, [&](const std::string& file, std::uint64_t size) {
        // Only the record writers' own files: the undo file is no list of
        // files anyone may have cut.
        if (!isRecordFileBelow(file, recordBases)) {
            if (leftover.refused++ == 0) leftover.firstRefused = file;
            return;
        }
        bool cut = false;
        const Status truncated = platform::truncateFile(file, size, cut);
        if (cut && std::find(leftover.takenBack.begin(), leftover.takenBack.end(), file) == leftover.takenBack.end())
            leftover.takenBack.push_back(file);
        // A file that is gone holds no line twice.
        if (!truncated.ok() && !truncated.is(Status::Code::notFound)) leftover.failures.push_back(truncated);
    });
    if (!read.ok()) return read;
    leftover.cutShort = reading.cutShort;
    datagram_ = reading.datagram + 1;
    filedBefore_ = reading.filedBefore;
    lastKey_ = std::move(reading.key);
    lastAnswer_ = std::move(reading.answer);
    // From here the file holds nothing but what was read as the last
    // datagram filed whole.
    std::uint64_t size = 0;
    if (Status sized = undo_.size(size); !sized.ok()) return sized;
    if (reading.kept == size) return {};
    return undo_.resize(reading.kept);
}

Status FilingBatch::beforeAppend(const std::string& path, std::uint64_t sizeBefore) {
    // Only the size before the datagram's first line in a file counts.
    for (const Entry& entry : entries_)
        if (entry.path == path) return {};
    if (!stuck_.ok()) {
        if (Status emptied = empty(); !emptied.ok()) return emptied;
    }
    if (opened_) {
        std::string line = "U " + std::to_string(datagram_) + " " + std::to_string(sizeBefore) + " ";
        appendHex(line, path);
        line += '\n';
        if (Status written = undo_.writeAt(used_, line); !written.ok()) return written;
        used_ += line.size();
    }
    entries_.push_back({path, sizeBefore});
    return {};
}

Status FilingBatch::finish(std::string_view key, std::string_view answer) {
    // Nothing was written, so a copy sent again writes nothing either.
    if (entries_.empty()) return {};
    if (opened_) {
        std::string line = "D " + std::to_string(datagram_) + " ";
        appendHex(line, key);
        line += ' ';
        appendHex(line, answer);
        line += '\n';
        // The datagram's entries behind this line are not read any more.
        if (Status written = undo_.writeAt(0, line); !written.ok()) return written;
        ++datagram_;
        used_ = 0;
    }
    entries_.clear();
    return {};
}

void FilingBatch::takeBack(std::vector<Status>& failures) {
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        bool cut = false;
        if (Status truncated = platform::truncateFile(entry->path, entry->size, cut);
            !truncated.ok() && !truncated.is(Status::Code::notFound))
            failures.push_back(std::move(truncated));
    }
    entries_.clear();
    if (Status emptied = empty(); !emptied.ok()) failures.push_back(std::move(emptied));
}

bool FilingBatch::filedBeforeStart(std::string& key, std::string& answer) const {
    key = lastKey_;
    answer = lastAnswer_;
    return filedBefore_;
}

Status FilingBatch::empty() {
    used_ = 0;
    if (!opened_) return {};
    stuck_ = undo_.resize(0);
    return stuck_;
}

}  // namespace quelvar
