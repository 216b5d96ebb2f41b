// The plain mode's field extraction, record test, repeat key and folder
// name on any 8-bit text: the folder stays in the record base and never
// takes the name of a file of the collector's own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "filing/mac_folder.h"
#include "message/plain_fields.h"
#include "net/plain_receiver.h"

namespace {

bool digitsOnly(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The names of the collector's own files beside the switches' folders,
// spelt out apart from the rule that keeps the switches off them.
bool collectorsOwnName(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const auto workbookAt = [&](std::size_t at) {
        return name.size() >= at + 10 && digitsOnly(name.substr(at, 6)) && name.compare(at + 6, 4, ".xls") == 0;
    };
    if (name == "err") return true;
    if (workbookAt(0)) {
        const std::string rest = name.substr(10);
        if (rest.empty() || rest == "-journal" || rest == ".queue") return true;
    }
    if (name.starts_with(".~lock.") && workbookAt(7) && name.substr(17) == "#") return true;
    return name.starts_with(".") && workbookAt(1) && name.size() > 16 && name[11] == '.' && name.ends_with(".new") &&
           digitsOnly(name.substr(12, name.size() - 16));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    quelvar::PlainFields fields;
    quelvar::extractPlainFields(text, fields);
    quelvar::isPlainRecord(text);
    quelvar::plainRepeatKey(text);
    const std::string folder = quelvar::macFolderOf(fields.mac);
    if (folder == "." || folder == ".." || folder.find('/') != std::string::npos) __builtin_trap();
    if (collectorsOwnName(folder)) __builtin_trap();
    return 0;
}
