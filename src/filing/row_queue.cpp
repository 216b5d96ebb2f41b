#include "filing/row_queue.h"

#include "core/checksum.h"
#include "core/utf16.h"

namespace quelvar {

namespace {

constexpr std::string_view magic = "QVQUEUE1";
constexpr std::size_t headerSize = 16;
constexpr std::string_view entryMark = "QROW";
// Mark, length, the row, checksum.
constexpr std::size_t entryFrame = 12;
// A row from one datagram is far smaller; a length beyond this is damage.
constexpr std::uint32_t largestRow = 1 << 20;

void putNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8) out.push_back(static_cast<char>(value & 0xFF));
}

std::uint32_t numberAt(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return value;
}

void putText(std::string& out, std::wstring_view text, int lengthBytes) {
    const std::u16string units = toUtf16(text);
    putNumber(out, units.size(), lengthBytes);
    for (const char16_t unit : units) putNumber(out, unit, 2);
}

// The row's fields front to back; false once anything runs past its end.
class RowReader {
public:
    explicit RowReader(std::string_view bytes) : bytes_(bytes) {}
    bool number(int size, std::uint32_t& value) {
        if (bytes_.size() < static_cast<std::size_t>(size)) return false;
        value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(bytes_[static_cast<std::size_t>(i)]);
        bytes_.remove_prefix(static_cast<std::size_t>(size));
        return true;
    }
    bool text(int lengthBytes, std::wstring& text) {
        std::uint32_t length = 0;
        if (!number(lengthBytes, length) || bytes_.size() / 2 < length) return false;
        std::u16string units(length, u'\0');
        for (std::uint32_t i = 0; i < length; ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                             static_cast<unsigned char>(bytes_[2 * i + 1]) << 8);
        bytes_.remove_prefix(2 * std::size_t{length});
        text = fromUtf16(units);
        return true;
    }
    bool atEnd() const { return bytes_.empty(); }
    std::size_t left() const { return bytes_.size(); }

private:
    std::string_view bytes_;
};

// A column takes six bytes at least: no room is made for more than the row can hold.
constexpr std::size_t smallestColumn = 6;

bool decodeRow(std::string_view body, QueuedRow& row) {
    RowReader reader(body);
    std::uint32_t columns = 0;
    if (!reader.text(2, row.sheet) || !reader.number(2, columns) || columns > reader.left() / smallestColumn)
        return false;
    row.columns.resize(columns);
    row.values.resize(columns);
    for (std::uint32_t i = 0; i < columns; ++i)
        if (!reader.text(2, row.columns[i]) || !reader.text(4, row.values[i])) return false;
    return reader.atEnd();
}

// The entry at `offset`, whole and checked; its end in `end`. `checked`
// counts the bytes whose checksum was worked out.
bool entryAt(std::string_view bytes, std::size_t offset, QueuedRow& row, std::size_t& end, std::size_t& checked) {
    if (bytes.size() - offset < entryFrame || bytes.substr(offset, entryMark.size()) != entryMark) return false;
    const std::uint32_t length = numberAt(bytes, offset + 4);
    if (length > largestRow || bytes.size() - offset - entryFrame < length) return false;
    checked += length;
    const std::string_view framed = bytes.substr(offset, 8 + length);
    if (numberAt(bytes, offset + 8 + length) != crc32(framed)) return false;
    end = offset + entryFrame + length;
    return decodeRow(framed.substr(8), row);
}

}  // namespace

std::string queueHeader() {
    std::string header(magic);
    header += queueAppliedField(0);
    putNumber(header, 0, 4);
    return header;
}

std::string queueAppliedField(std::uint32_t applied) {
    std::string field;
    putNumber(field, applied, 4);
    return field;
}

std::string encodeQueuedRow(const QueuedRow& row) {
    std::string body;
    putText(body, row.sheet, 2);
    putNumber(body, row.columns.size(), 2);
    for (std::size_t i = 0; i < row.columns.size(); ++i) {
        putText(body, row.columns[i], 2);
        putText(body, i < row.values.size() ? row.values[i] : std::wstring_view(), 4);
    }
    std::string entry(entryMark);
    putNumber(entry, body.size(), 4);
    entry += body;
    putNumber(entry, crc32(entry), 4);
    return entry;
}

QueueContents readQueue(std::string_view bytes) {
    QueueContents contents;
    const std::string header = queueHeader();
    if (bytes.size() < headerSize) {
        // Only a new file's header, cut short, is no damage.
        if (header.starts_with(bytes)) {
            contents.state = QueueContents::State::cutShort;
        } else {
            contents.state = QueueContents::State::damaged;
            contents.damagedAt = 0;
        }
        return contents;
    }
    if (!bytes.starts_with(magic) || numberAt(bytes, 12) != 0) {
        contents.state = QueueContents::State::damaged;
        return contents;
    }
    contents.applied = numberAt(bytes, queueAppliedAt);
    std::size_t offset = headerSize;
    std::size_t checked = 0;
    while (offset < bytes.size()) {
        QueuedRow row;
        std::size_t end = 0;
        if (entryAt(bytes, offset, row, end, checked)) {
            contents.rows.push_back(std::move(row));
            offset = end;
            continue;
        }
        // A crash cuts only the last entry short: a whole entry after this
        // one means damage. What a crash leaves holds a mark or two; a file
        // that keeps the search busy longer is no queue cut short either.
        contents.state = QueueContents::State::cutShort;
        for (std::size_t later = bytes.find(entryMark, offset + 1); later != std::string_view::npos;
             later = bytes.find(entryMark, later + 1)) {
            if (entryAt(bytes, later, row, end, checked) || checked > 4 * bytes.size()) {
                contents.state = QueueContents::State::damaged;
                contents.damagedAt = offset;
                return contents;
            }
        }
        break;
    }
    contents.wholeSize = offset;
    if (contents.applied > contents.rows.size()) {
        contents.state = QueueContents::State::damaged;
        contents.damagedAt = queueAppliedAt;
    }
    return contents;
}

}  // namespace quelvar
