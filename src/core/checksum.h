#pragma once
#include <cstdint>
#include <string_view>

namespace quelvar {

// CRC-32 as zip and PNG compute it, for telling whole records of the
// collector's own files from ones cut short or damaged.
std::uint32_t crc32(std::string_view bytes);

}  // namespace quelvar
