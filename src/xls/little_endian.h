#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quelvar::xls {

// Little-endian numbers in byte texts, as the workbook's file format keeps
// them. Readers take an offset the caller has checked against the size.
inline std::uint16_t readU16(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                      static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

inline std::uint32_t readU32(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(readU16(bytes, offset)) | static_cast<std::uint32_t>(readU16(bytes, offset + 2))
                                                                    << 16;
}

inline std::uint64_t readU64(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint64_t>(readU32(bytes, offset)) | static_cast<std::uint64_t>(readU32(bytes, offset + 4))
                                                                    << 32;
}

inline double readDouble(std::string_view bytes, std::size_t offset) {
    const std::uint64_t bits = readU64(bytes, offset);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void putU8(std::string& bytes, unsigned value) { bytes.push_back(static_cast<char>(value & 0xFF)); }

inline void putU16(std::string& bytes, unsigned value) {
    putU8(bytes, value);
    putU8(bytes, value >> 8);
}

inline void putU32(std::string& bytes, std::uint32_t value) {
    putU16(bytes, value & 0xFFFF);
    putU16(bytes, value >> 16);
}

inline void putDouble(std::string& bytes, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(bytes, static_cast<std::uint32_t>(bits));
    putU32(bytes, static_cast<std::uint32_t>(bits >> 32));
}

inline void setU16(std::string& bytes, std::size_t offset, unsigned value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

inline void setU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    setU16(bytes, offset, value & 0xFFFF);
    setU16(bytes, offset + 2, value >> 16);
}

}  // namespace quelvar::xls
