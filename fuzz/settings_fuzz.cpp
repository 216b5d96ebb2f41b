// The configuration grammar on any file contents; the data root's folders
// are not made here.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/settings.h"

namespace {
void noFolders(quelvar::Settings&) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quelvar::Settings settings;
    quelvar::applySettingsText(std::string(reinterpret_cast<const char*>(data), size), settings, noFolders);
    if (settings.areaCode.size() > 8) __builtin_trap();
    return 0;
}
