#include "filing/filing_batch.h"

#include <algorithm>

#include "filing/undo_reading.h"

namespace quelvar {

// The undo file holds one line for each file a batch may lengthen, "U
// <batch> <size before> <path in hex>", noted before the file's first line
// of the batch, where <batch> counts the batches. A commit writes from the
// file's start, over what was there: the line "D <batch> <key in hex>
// <answer in hex>" for each datagram of the batch filed whole, then the U
// lines of the next batch for the files this one wrote, at their sizes now;
// the next batch notes further files behind them. Reading stops at the
// first line that is none of these (D lines of one batch first, then U
// lines of the next; or U lines of one batch alone), and the file is cut
// only at a start and after a failed commit. In hex no byte of a path or
// key reads as a line end, and what is left of an older line never begins
// with a capital.

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
    // The lines of the unfinished batch are taken back as they are read.
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
    batch_ = reading.batch + 1;
    for (auto& [key, answer] : reading.filed) filedBefore_.push_back({std::move(key), std::move(answer)});
    // From here the file holds nothing but the last batch committed, and
    // the next batch's notes go behind it.
    used_ = reading.kept;
    std::uint64_t size = 0;
    if (Status sized = undo_.size(size); !sized.ok()) return sized;
    if (reading.kept == size) return {};
    if (Status resized = undo_.resize(reading.kept); !resized.ok()) return resized;
    return syncing_ ? undo_.flushData() : Status();
}

Status FilingBatch::append(const std::string& path, std::string_view header, std::string_view bytes) {
    std::uint64_t sizeAfter = 0;
    if (Status written = files_.append(path, header, bytes, this, sizeAfter); !written.ok()) return written;
    for (Touched& file : touched_)
        if (file.path == path) file.now = sizeAfter;
    return {};
}

Status FilingBatch::note(const std::string& path, std::uint64_t size) {
    if (!opened_) return {};
    std::string line = "U " + std::to_string(batch_) + " " + std::to_string(size) + " ";
    appendHex(line, path);
    line += '\n';
    if (Status written = undo_.writeAt(used_, line); !written.ok()) return written;
    used_ += line.size();
    // On the disk before any line it guards could be.
    return syncing_ ? undo_.flushData() : Status();
}

Status FilingBatch::beforeAppend(const std::string& path, std::uint64_t sizeBefore) {
    if (!stuck_.ok()) {
        if (Status emptied = empty(); !emptied.ok()) return emptied;
    }
    const bool inBatch =
        std::any_of(touched_.begin(), touched_.end(), [&](const Touched& file) { return file.path == path; });
    if (!inBatch) {
        const auto noted =
            std::find_if(noted_.begin(), noted_.end(), [&](const Entry& entry) { return entry.path == path; });
        // Noted at another size: the file changed between batches, or was made anew.
        if (noted == noted_.end() || noted->size != sizeBefore) {
            if (Status noting = note(path, sizeBefore); !noting.ok()) return noting;
        }
        touched_.push_back({path, sizeBefore, sizeBefore});
        // A file that was empty may have been made just now: its name lasts
        // once its folder is on the disk.
        if (sizeBefore == 0) {
            const std::size_t cut = path.find_last_of("/\\");
            const std::string folder = cut == std::string::npos ? std::string(".") : path.substr(0, cut);
            if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end()) folders_.push_back(folder);
        }
    }
    // Only the size before the datagram's first line in a file counts.
    for (const Entry& entry : entries_)
        if (entry.path == path) return {};
    entries_.push_back({path, sizeBefore});
    return {};
}

void FilingBatch::foldersMade(std::string_view root, const std::string& deepest) {
    // Each made folder's name lies in its parent.
    std::string folder = deepest;
    while (folder.size() > root.size() && folder.starts_with(root)) {
        const std::size_t cut = folder.find_last_of("/\\");
        if (cut == std::string::npos || cut < root.size()) break;
        folder.resize(cut);
        if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end()) folders_.push_back(folder);
    }
}

Status FilingBatch::finish(std::string_view key, std::string_view answer) {
    // Nothing was written, so a copy sent again writes nothing either.
    if (entries_.empty()) return {};
    finished_.push_back({std::string(key), std::string(answer)});
    entries_.clear();
    return {};
}

void FilingBatch::takeBack(std::vector<Status>& failures) {
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        bool cut = false;
        files_.forget(entry->path);
        if (Status truncated = platform::truncateFile(entry->path, entry->size, cut);
            !truncated.ok() && !truncated.is(Status::Code::notFound))
            failures.push_back(std::move(truncated));
        for (Touched& file : touched_)
            if (file.path == entry->path) file.now = entry->size;
    }
    entries_.clear();
}

Status FilingBatch::commit(std::vector<Status>& failures) {
    files_.nextRound();
    if (touched_.empty()) {
        finished_.clear();
        return {};
    }
    Status committed;
    if (syncing_) {
        for (const Touched& file : touched_)
            if (committed.ok()) committed = files_.sync(file.path);
        for (const std::string& folder : folders_)
            if (committed.ok()) committed = platform::flushFolder(folder);
    }
    std::string mark;
    for (const Filed& filed : finished_) {
        mark += "D " + std::to_string(batch_) + " ";
        appendHex(mark, filed.key);
        mark += ' ';
        appendHex(mark, filed.answer);
        mark += '\n';
    }
    std::vector<Entry> next;
    for (const Touched& file : touched_) {
        mark += "U " + std::to_string(batch_ + 1) + " " + std::to_string(file.now) + " ";
        appendHex(mark, file.path);
        mark += '\n';
        next.push_back({file.path, file.now});
    }
    if (committed.ok() && opened_) committed = undo_.writeAt(0, mark);
    if (committed.ok() && opened_ && syncing_) committed = undo_.flushData();
    if (!committed.ok()) {
        rollBack(failures);
        return committed;
    }
    ++batch_;
    used_ = opened_ ? mark.size() : 0;
    noted_ = std::move(next);
    touched_.clear();
    finished_.clear();
    folders_.clear();
    return {};
}

void FilingBatch::rollBack(std::vector<Status>& failures) {
    for (auto file = touched_.rbegin(); file != touched_.rend(); ++file) {
        bool cut = false;
        files_.forget(file->path);
        if (Status truncated = platform::truncateFile(file->path, file->before, cut);
            !truncated.ok() && !truncated.is(Status::Code::notFound))
            failures.push_back(std::move(truncated));
    }
    touched_.clear();
    finished_.clear();
    folders_.clear();
    entries_.clear();
    if (Status emptied = empty(); !emptied.ok()) failures.push_back(std::move(emptied));
}

Status FilingBatch::empty() {
    // A new number: nothing of the file read before can pass for this batch's.
    ++batch_;
    used_ = 0;
    noted_.clear();
    if (!opened_) return {};
    stuck_ = undo_.resize(0);
    if (stuck_.ok() && syncing_) stuck_ = undo_.flushData();
    return stuck_;
}

}  // namespace quelvar
