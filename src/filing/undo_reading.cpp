#include "filing/undo_reading.h"

#include <algorithm>

namespace quelvar {

namespace {

// One piece read at a time; no line of the collector's is longer.
constexpr std::size_t pieceBytes = std::size_t{256} << 10;

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

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

Status readUndoFile(platform::LockedFile& undo, UndoReading& reading,
                    const std::function<void(const std::string& path, std::uint64_t size)>& unfinished) {
    reading = {};
    std::string pending;
    std::string piece;
    std::uint64_t offset = 0;
    bool first = true;
    bool filedFirst = false;
    for (;;) {
        if (offset >= undoReadLimit) {
            std::string more;
            if (Status read = undo.readAt(offset, 1, more); !read.ok()) return read;
            reading.cutShort = !more.empty();
            return {};
        }
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(pieceBytes, undoReadLimit - offset));
        if (Status read = undo.readAt(offset, count, piece); !read.ok()) return read;
        if (piece.empty()) return {};
        const std::uint64_t pendingStart = offset - pending.size();
        offset += piece.size();
        pending += piece;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = pending.find('\n', start);
            if (end == std::string::npos) break;
            const std::string_view line = std::string_view(pending).substr(start, end - start);
            std::string_view fields[3];
            std::uint64_t number = 0;
            if (!splitFields(line, fields, 3) || !readNumber(fields[0], number)) return {};
            if (line[0] == 'D') {
                // The D lines of one batch come first, or not at all.
                if (!first && (!filedFirst || number != reading.batch)) return {};
                std::pair<std::string, std::string> filed;
                if (!readHex(fields[1], filed.first) || !readHex(fields[2], filed.second)) return {};
                reading.filed.push_back(std::move(filed));
                filedFirst = true;
                reading.batch = number;
                reading.kept = pendingStart + end + 1;
            } else {
                // The unfinished batch's files: behind its predecessor's D lines, or alone.
                const std::uint64_t expected = filedFirst ? reading.batch + 1 : reading.batch;
                if (!first && number != expected) return {};
                std::uint64_t size = 0;
                std::string path;
                if (line[0] != 'U' || !readNumber(fields[1], size) || !readHex(fields[2], path)) return {};
                if (first) reading.batch = number;
                unfinished(path, size);
            }
            first = false;
            start = end + 1;
        }
        pending.erase(0, start);
        // A line longer than a piece is no line of the collector's.
        if (pending.size() >= pieceBytes) return {};
    }
}

bool isRecordFileBelow(const std::string& path, const std::vector<std::string>& recordBases) {
    for (std::string base : recordBases) {
        while (base.size() > 1 && base.back() == platform::pathSeparator) base.pop_back();
        if (base.empty() || path.size() <= base.size() || path.compare(0, base.size(), base) != 0 ||
            path[base.size()] != platform::pathSeparator)
            continue;
        std::vector<std::string_view> names;
        const std::string_view rest = std::string_view(path).substr(base.size());
        for (std::size_t position = 0; position < rest.size();) {
            const std::size_t next = std::min(rest.find(platform::pathSeparator, position), rest.size());
            if (next > position) names.push_back(rest.substr(position, next - position));
            position = next + 1;
        }
        if (!names.empty() && names.size() == 4 && sameText(names.front(), "err")) names.erase(names.begin());
        if (names.size() != 3) continue;
        const std::string_view name = names[2];
        const bool dotsOnly = names[0].find_first_not_of('.') == std::string_view::npos;
        if (!dotsOnly && (names[1] == "new" || names[1] == "old") && name.size() > 8 && name.starts_with("CDR_") &&
            (name.ends_with(".txt") || name.ends_with(".csv")))
            return true;
    }
    return false;
}

}  // namespace quelvar
