// The record parser and the line splitter on any text a datagram can carry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"
#include "message/field_map.h"
#include "message/split_text.h"
#include "net/encrypted_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = quelvar::fromGbk(std::string_view(reinterpret_cast<const char*>(data), size));
    quelvar::FieldMap fields;
    quelvar::parseFieldMap(text, fields);
    std::vector<std::wstring> parts;
    quelvar::splitText(text, L"\n", parts);
    for (const std::wstring& part : parts) quelvar::parseFieldMap(part, fields);
    quelvar::mergeCallRecord(parts);
    return 0;
}
