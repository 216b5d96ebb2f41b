#include "filing/rollback_journal.h"

#include <algorithm>
#include <limits>

#include "core/checksum.h"

namespace quelvar {

namespace {

constexpr std::string_view magic = "QVJRNL01";
// A change is of a workbook and its queue.
constexpr std::size_t mostFiles = 2;

void putNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) out.push_back(static_cast<char>(value & 0xFF));
}

// Reads numbers and bytes front to back; false once anything runs past the end.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool number(int size, std::uint64_t& value) {
        if (bytes_.size() < static_cast<std::size_t>(size)) return false;
        value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes_[i]);
        bytes_.remove_prefix(static_cast<std::size_t>(size));
        return true;
    }
    bool take(std::uint64_t count, std::string_view& taken) {
        if (bytes_.size() < count) return false;
        taken = bytes_.substr(0, static_cast<std::size_t>(count));
        bytes_.remove_prefix(static_cast<std::size_t>(count));
        return true;
    }
    bool atEnd() const { return bytes_.empty(); }

private:
    std::string_view bytes_;
};

Status journalError(const std::string& journal, const std::string& why) {
    return Status::error(Status::Code::unsupported, "undo", journal, why);
}

// Puts the old bytes back, each file to its old size; a file that was not
// there goes. Stops at the first failure.
Status putBack(const std::vector<JournalFile>& entries, const std::vector<JournalTarget>& targets) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const JournalFile& entry = entries[i];
        platform::LockedFile own;
        platform::LockedFile* file = targets[i].file;
        if (!entry.existed) {
            if (file != nullptr) file->close();
            if (Status removed = platform::removeFileDurably(targets[i].path);
                !removed.ok() && !removed.is(Status::Code::notFound))
                return removed;
            continue;
        }
        if (file == nullptr) {
            if (Status opened = own.open(targets[i].path); !opened.ok()) return opened;
            file = &own;
        }
        for (const auto& [offset, bytes] : entry.oldBytes)
            if (Status written = file->writeAt(offset, bytes); !written.ok()) return written;
        std::uint64_t size = 0;
        if (Status sized = file->size(size); !sized.ok()) return sized;
        if (size != entry.sizeBefore && !entry.growing)
            if (Status cut = file->resize(entry.sizeBefore); !cut.ok()) return cut;
        if (Status flushed = file->flush(); !flushed.ok()) return flushed;
    }
    return {};
}

std::vector<JournalFile> entriesOf(const std::vector<FileChangePlan>& files) {
    std::vector<JournalFile> entries;
    for (const FileChangePlan& file : files) {
        JournalFile entry{file.existed, file.growing, file.sizeBefore, file.sizeAfter, {}};
        for (const xls::FileEdit& edit : file.edits)
            if (!edit.before.empty()) entry.oldBytes.emplace_back(edit.offset, edit.before);
        if (!file.cutAway.empty()) entry.oldBytes.emplace_back(file.sizeAfter, file.cutAway);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

std::string encodeJournal(const std::vector<FileChangePlan>& files) {
    std::string out(magic);
    putNumber(out, files.size(), 4);
    for (const JournalFile& entry : entriesOf(files)) {
        putNumber(out, (entry.existed ? 1 : 0) | (entry.growing ? 2 : 0), 1);
        putNumber(out, entry.sizeBefore, 8);
        putNumber(out, entry.sizeAfter, 8);
        putNumber(out, entry.oldBytes.size(), 4);
        for (const auto& [offset, bytes] : entry.oldBytes) {
            putNumber(out, offset, 8);
            putNumber(out, bytes.size(), 4);
            out += bytes;
        }
    }
    putNumber(out, crc32(out), 4);
    return out;
}

bool decodeJournal(std::string_view bytes, std::vector<JournalFile>& files) {
    files.clear();
    if (bytes.size() < magic.size() + 8 || !bytes.starts_with(magic)) return false;
    const std::string_view body = bytes.substr(0, bytes.size() - 4);
    std::uint64_t check = 0;
    if (!Reader(bytes.substr(body.size())).number(4, check) || check != crc32(body)) return false;
    Reader reader(body.substr(magic.size()));
    std::uint64_t count = 0;
    if (!reader.number(4, count) || count == 0 || count > mostFiles) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        JournalFile entry;
        std::uint64_t flags = 0, ranges = 0;
        if (!reader.number(1, flags) || flags > 3 || !reader.number(8, entry.sizeBefore) ||
            !reader.number(8, entry.sizeAfter) || !reader.number(4, ranges))
            return false;
        entry.existed = (flags & 1) != 0;
        entry.growing = (flags & 2) != 0;
        if (!entry.existed && (entry.sizeBefore != 0 || ranges != 0 || entry.growing)) return false;
        for (std::uint64_t r = 0; r < ranges; ++r) {
            std::uint64_t offset = 0, length = 0;
            std::string_view old;
            if (!reader.number(8, offset) || !reader.number(4, length) || !reader.take(length, old)) return false;
            // Only bytes the file had can be put back.
            if (offset > entry.sizeBefore || length > entry.sizeBefore - offset) return false;
            entry.oldBytes.emplace_back(offset, std::string(old));
        }
        files.push_back(std::move(entry));
    }
    return reader.atEnd();
}

Status changeUnderJournal(const std::string& journal, std::vector<FileChangePlan>& files) {
    if (Status written = platform::writeFileDurably(journal, encodeJournal(files)); !written.ok()) {
        // Nothing was touched: a journal cut short is no use to anyone.
        static_cast<void>(platform::removeFileDurably(journal));
        return written;
    }
    Status status;
    for (FileChangePlan& plan : files) {
        // A new file is made only now: without the journal it would be an empty workbook.
        if (status.ok() && !plan.existed) status = plan.file->create(plan.path);
        std::uint64_t reached = plan.sizeBefore;
        for (const xls::FileEdit& edit : plan.edits) {
            if (status.ok()) status = plan.file->writeAt(edit.offset, edit.bytes);
            reached = std::max<std::uint64_t>(reached, edit.offset + edit.bytes.size());
        }
        if (status.ok() && reached != plan.sizeAfter) status = plan.file->resize(plan.sizeAfter);
        if (status.ok()) status = plan.file->flush();
    }
    if (status.ok()) status = platform::removeFileDurably(journal);
    if (status.ok()) return {};
    std::vector<JournalTarget> targets;
    for (const FileChangePlan& plan : files) targets.push_back({plan.path, plan.file});
    if (putBack(entriesOf(files), targets).ok()) static_cast<void>(platform::removeFileDurably(journal));
    return status;
}

Status undoJournal(const std::string& journal, const std::vector<JournalTarget>& targets) {
    if (!platform::pathExists(journal)) return {};
    std::string bytes;
    if (Status read = platform::readFile(journal, bytes); !read.ok()) return read;
    std::vector<JournalFile> entries;
    if (!decodeJournal(bytes, entries)) return platform::removeFileDurably(journal);
    if (entries.size() > targets.size()) return journalError(journal, "it speaks of more files than there are");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const JournalFile& entry = entries[i];
        platform::FileStamp stamp;
        const Status stamped = platform::fileStamp(targets[i].path, stamp);
        if (!stamped.ok() && !stamped.is(Status::Code::notFound)) return stamped;
        const bool there = stamped.ok();
        const std::uint64_t low = std::min(entry.sizeBefore, entry.sizeAfter);
        const std::uint64_t high = entry.growing ? std::numeric_limits<std::uint64_t>::max() : std::max(entry.sizeBefore, entry.sizeAfter);
        const bool fits = entry.existed ? there && stamp.size >= low && stamp.size <= high
                                        : !there || stamp.size <= entry.sizeAfter;
        if (!fits) return journalError(journal, targets[i].path + " is not the file it speaks of");
    }
    if (Status undone = putBack(entries, targets); !undone.ok()) return undone;
    return platform::removeFileDurably(journal);
}

}  // namespace quelvar
