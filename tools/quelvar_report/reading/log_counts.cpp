#include "quelvar_report/reading/log_counts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

namespace quelvar::report {
namespace {

bool startsWith(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }
bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string withoutPort(std::string_view address) {
    const std::size_t colon = address.rfind(':');
    return std::string(colon == std::string_view::npos ? address : address.substr(0, colon));
}

// "<n> more <what> from <address> <verb>": the count and the address.
bool countedLine(std::string_view text, std::string_view what, std::string_view verb, long& count,
                 std::string& address) {
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view number = text.substr(0, space);
    if (std::from_chars(number.data(), number.data() + number.size(), count).ptr != number.data() + number.size())
        return false;
    std::string_view rest = text.substr(space + 1);
    const std::string head = "more " + std::string(what) + " from ";
    const std::string tail = " " + std::string(verb);
    if (!startsWith(rest, head) || !endsWith(rest, tail) || rest.size() <= head.size() + tail.size()) return false;
    address = std::string(rest.substr(head.size(), rest.size() - head.size() - tail.size()));
    return count > 0;
}

void countLine(std::string_view text, LogCounts& counts) {
    constexpr std::string_view warning = "WARNING   ";
    if (startsWith(text, "ERROR   record not written to ")) {
        ++counts.notWritten;
    } else if (startsWith(text, "unknown message ")) {
        const std::string_view sender = text.substr(16, text.find(' ', 16) - 16);
        ++counts.senders[withoutPort(sender)].unknown;
    } else if (startsWith(text, warning)) {
        const std::string_view rest = text.substr(warning.size());
        long count = 0;
        std::string address;
        constexpr std::string_view tooLong = "datagram of more than 64 lines from ";
        constexpr std::string_view refused = "datagram from ";
        if (startsWith(rest, tooLong) && endsWith(rest, " refused")) {
            const std::string_view sender = rest.substr(tooLong.size(), rest.size() - tooLong.size() - 8);
            ++counts.senders[withoutPort(sender)].tooLong;
        } else if (startsWith(rest, refused) && endsWith(rest, " refused")) {
            ++counts.senders[std::string(rest.substr(refused.size(), rest.size() - refused.size() - 8))].refused;
        } else if (countedLine(rest, "unknown messages", "suppressed", count, address)) {
            counts.senders[address].unknown += count;
        } else if (countedLine(rest, "datagrams", "refused", count, address)) {
            counts.senders[address].refused += count;
        } else if (countedLine(rest, "records", "not written", count, address)) {
            // The collector's count of the "record not written" lines it held back.
            counts.notWritten += count;
        }
    }
}

}  // namespace

void countLogLines(std::string_view text, LogCounts& counts) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // "YYYY-MM-DD   hh:mm:ss   <text>"
        constexpr std::size_t stamp = 24;
        if (line.size() <= stamp || line[4] != '-' || line[15] != ':' || line[18] != ':' || line.substr(10, 3) != "   " ||
            line.substr(21, 3) != "   ")
            continue;
        countLine(line.substr(stamp), counts);
    }
}

Status countLogFile(const std::string& path, LogCounts& counts) {
    // Not blocking: a pipe in the log's place is refused, not waited for.
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) return Status::error(Status::Code::failed, "open", path, std::strerror(errno), errno);
    struct stat about {};
    if (fstat(file, &about) != 0 || !S_ISREG(about.st_mode)) {
        close(file);
        return Status::error(Status::Code::failed, "open", path, "Not a regular file");
    }
    // No counted line is longer than this; a longer one (a record's text) is
    // kept to its start, which is all a line is known by.
    constexpr std::size_t longestKept = 64 * 1024;
    std::vector<char> buffer(1 << 20);
    std::string pending;
    bool cut = false;
    for (;;) {
        const ssize_t got = read(file, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            close(file);
            return Status::error(Status::Code::failed, "read", path, std::strerror(error), error);
        }
        if (got == 0) break;
        std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
        while (!piece.empty()) {
            const std::size_t end = piece.find('\n');
            const std::string_view part = piece.substr(0, end);
            if (!cut) pending.append(part.substr(0, longestKept - std::min(longestKept, pending.size())));
            cut = cut || pending.size() >= longestKept;
            if (end == std::string_view::npos) break;
            countLogLines(pending, counts);
            pending.clear();
            cut = false;
            piece.remove_prefix(end + 1);
        }
    }
    close(file);
    countLogLines(pending, counts);
    return {};
}

}  // namespace quelvar::report
