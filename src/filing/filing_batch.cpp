#include "filing/filing_batch.h"

#include <algorithm>

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

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool readHex(std::string_view hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexValue(hex[i]);
        const int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool readNumber(std::string_view text, std::uint64_t& number) {
    if (text.empty() || text.size() > 19) return false;
    number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// The fields of an entry's line after its letter and a blank.
bool splitFields(std::string_view line, std::string_view* fields, std::size_t count) {
    if (line.size() < 2 || line[1] != ' ') return false;
    line.remove_prefix(2);
    for (std::size_t index = 0; index + 1 < count; ++index) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return false;
        fields[index] = line.substr(0, blank);
        line.remove_prefix(blank + 1);
    }
    fields[count - 1] = line;
    return true;
}

}  // namespace

Status FilingBatch::open(const std::string& path, Leftover& leftover) {
    leftover = {};
    if (Status opened = undo_.openOwn(path); !opened.ok()) return opened;
    opened_ = true;
    std::string contents;
    if (Status read = undo_.read(contents); !read.ok()) return read;

    std::vector<Entry> unfinished;
    std::uint64_t kept = 0;
    std::uint64_t datagram = 0;
    for (std::size_t start = 0; start < contents.size();) {
        const std::size_t end = contents.find('\n', start);
        if (end == std::string::npos) break;
        const std::string_view line = std::string_view(contents).substr(start, end - start);
        std::string_view fields[3];
        std::uint64_t number = 0;
        if (!splitFields(line, fields, 3) || !readNumber(fields[0], number) || (start > 0 && number != datagram))
            break;
        datagram = number;
        if (line[0] == 'D' && start == 0) {
            if (!readHex(fields[1], lastKey_) || !readHex(fields[2], lastAnswer_)) break;
            filedBefore_ = true;
            kept = end + 1;
            break;
        }
        Entry entry;
        if (line[0] != 'U' || !readNumber(fields[1], entry.size) || !readHex(fields[2], entry.path)) break;
        unfinished.push_back(std::move(entry));
        start = end + 1;
    }
    datagram_ = datagram + 1;
    // Last noted first: a file noted twice ends at its first size.
    for (auto entry = unfinished.rbegin(); entry != unfinished.rend(); ++entry) {
        bool cut = false;
        const Status truncated = platform::truncateFile(entry->path, entry->size, cut);
        if (cut &&
            std::find(leftover.takenBack.begin(), leftover.takenBack.end(), entry->path) == leftover.takenBack.end())
            leftover.takenBack.push_back(entry->path);
        // A file that is gone holds no line twice.
        if (!truncated.ok() && !truncated.is(Status::Code::notFound)) leftover.failures.push_back(truncated);
    }
    // From here the file holds nothing but what was read as the last
    // datagram filed whole.
    if (kept == contents.size()) return {};
    return undo_.resize(kept);
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
