#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace quelvar {

// The keys the collector reads from a record.
enum class Field : std::uint8_t {
    id,         // record identifier; a line is acknowledged with it
    rid,        // call record identifier (Call-ID)
    cbid,       // taken for RID when TYPE is CB
    account,
    cpn,        // calling party number
    cdpn,       // called party number
    count,      // set: the newer record format (the merged call)
    type,       // call type code
    route,      // route code
    mac,        // the sending switch; without one, a record goes to the workbook
    timeStart,  // YYMMDDhhmmss
    timeEnd,
    duration,   // whole seconds
    trunk,
    time,       // MM?DD?hh?mm?ss, for the workbook
};
inline constexpr std::size_t fieldCount = 15;

// The key text of each field, in the order of Field.
inline constexpr std::array<std::wstring_view, fieldCount> fieldKeys = {
    L"ID",  L"RID",     L"CBID",  L"ACCOUNT", L"CPN",      L"CDPN",   L"COUNT", L"TYPE",
    L"ROUTE", L"MAC", L"TIME-S", L"TIME-E", L"DURATION", L"TRUNKN", L"TIME",
};

// One record text decoded once: its head and the values of the keys the
// collector reads, each the last that the text gives for its key, an absent
// one empty. The values view the text, which must outlive the record.
struct Record {
    bool hasHead = false;
    std::wstring_view head;
    std::array<std::wstring_view, fieldCount> values{};

    std::wstring_view operator[](Field field) const { return values[static_cast<std::size_t>(field)]; }
    void set(Field field, std::wstring_view value) { values[static_cast<std::size_t>(field)] = value; }
    // Only the head "RECORD", in capitals, makes a record.
    bool isRecord() const { return hasHead && head == L"RECORD"; }
};

// Decodes a record text. An empty text leaves the record as it was;
// otherwise it starts afresh. A pair with the key "HEAD" stands for the
// head, as it does in a FieldMap.
void parseRecord(std::wstring_view text, Record& record);

}  // namespace quelvar
