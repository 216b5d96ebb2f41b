#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// The values of a plain-mode record, 8-bit text byte for byte as received.
struct PlainFields {
    std::string rid, account, type, cpn, cdpn, timeStart, duration, route, trunk, mac;
};

// Takes each value after the first occurrence of its key anywhere in the
// text, up to the next "&" (a value with no "&" after it stays empty). The
// MAC is the 17 characters after "MAC=", whatever they are, with ':' as '-'.
void extractPlainFields(std::string_view text, PlainFields& fields);

}  // namespace quelvar
