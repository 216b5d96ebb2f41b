// The record syntax on any text a datagram can carry: the collector's
// decoding of a record must read every key it knows as the whole map does,
// line by line and across the whole text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"
#include "message/datagram.h"
#include "message/field_map.h"
#include "message/record.h"

namespace {

void expectReadAlike(std::wstring_view text) {
    quelvar::Record record;
    quelvar::parseRecord(text, record);
    quelvar::FieldMap fields;
    quelvar::parseFieldMap(text, fields);
    if (record.hasHead != fields.contains(L"HEAD") || record.head != quelvar::fieldValue(fields, L"HEAD"))
        __builtin_trap();
    for (std::size_t index = 0; index < quelvar::fieldCount; ++index)
        if (record.values[index] != quelvar::fieldValue(fields, quelvar::fieldKeys[index])) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = quelvar::fromGbk(std::string_view(reinterpret_cast<const char*>(data), size));
    expectReadAlike(text);
    quelvar::Datagram datagram;
    quelvar::decodeDatagram(text, datagram);
    quelvar::FieldMap whole;
    quelvar::parseFieldMap(text, whole);
    if (datagram.rid != quelvar::fieldValue(whole, L"RID")) __builtin_trap();
    for (const quelvar::DatagramLine& line : datagram.lines) expectReadAlike(line.text);
    return 0;
}
