#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar {

// An IPv4 network in CIDR form ("10.0.0.0/8"); one address is a /32.
struct AddressRange {
    std::uint32_t network = 0;  // host order, the host bits cleared
    std::uint32_t mask = 0;
};

// Reads "a.b.c.d" or "a.b.c.d/n": four decimal numbers up to 255 and a
// prefix length up to 32. False for anything else.
bool parseAddressRange(std::string_view text, AddressRange& range);

inline bool contains(const AddressRange& range, std::uint32_t address) {
    return (address & range.mask) == range.network;
}

// "a.b.c.d/n".
std::string addressRangeText(const AddressRange& range);

}  // namespace quelvar
