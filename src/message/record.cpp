#include "message/record.h"

#include "message/record_syntax.h"

namespace quelvar {

namespace {

// The field of a key, or fieldCount for a key the collector does not read.
std::size_t fieldOf(std::wstring_view key) {
    for (std::size_t index = 0; index < fieldCount; ++index)
        if (fieldKeys[index] == key) return index;
    return fieldCount;
}

}  // namespace

void parseRecord(std::wstring_view text, Record& record) {
    if (text.empty()) return;
    record = Record{};
    readRecordSyntax(
        text,
        [&](std::wstring_view head) {
            record.hasHead = true;
            record.head = head;
        },
        [&](std::wstring_view key, std::wstring_view value) {
            if (key == L"HEAD") {
                record.hasHead = true;
                record.head = value;
            } else if (const std::size_t field = fieldOf(key); field < fieldCount) {
                record.values[field] = value;
            }
        });
}

}  // namespace quelvar
