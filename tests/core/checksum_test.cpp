#include "core/checksum.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar {
namespace {

// The check values every CRC-32 (zip, PNG, Ethernet) gives.
TEST(Crc32, GivesTheStandardCheckValues) {
    EXPECT_EQ(crc32(""), 0x00000000u);
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(crc32(std::string("\0\xFF", 2)), 0x6CDBFD72u) << "bytes above 127 and zero bytes count as they are";
}

}  // namespace
}  // namespace quelvar
