// The plain mode's field extraction, record test, repeat key and folder
// name on any 8-bit text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "filing/mac_folder.h"
#include "message/plain_fields.h"
#include "net/plain_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    quelvar::PlainFields fields;
    quelvar::extractPlainFields(text, fields);
    quelvar::isPlainRecord(text);
    quelvar::plainRepeatKey(text);
    const std::string folder = quelvar::macFolderOf(fields.mac);
    if (folder == "." || folder == ".." || folder.find('/') != std::string::npos) __builtin_trap();
    return 0;
}
