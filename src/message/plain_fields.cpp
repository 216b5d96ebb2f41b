#include "message/plain_fields.h"

namespace quelvar {

namespace {

constexpr std::size_t macLength = 17;

std::string valueAfter(std::string_view text, std::string_view key) {
    const std::size_t found = text.find(key);
    if (found == std::string_view::npos) return {};
    const std::size_t start = found + key.size();
    const std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) return {};
    return std::string(text.substr(start, end - start));
}

}  // namespace

void extractPlainFields(std::string_view text, PlainFields& fields) {
    fields.rid = valueAfter(text, "RID=");
    fields.account = valueAfter(text, "ACCOUNT=");
    fields.type = valueAfter(text, "TYPE=");
    fields.cpn = valueAfter(text, "CPN=");
    fields.cdpn = valueAfter(text, "CDPN=");
    fields.timeStart = valueAfter(text, "TIME-S=");
    fields.duration = valueAfter(text, "DURATION=");
    fields.route = valueAfter(text, "ROUTE=");
    fields.trunk = valueAfter(text, "TRUNKN=");
    fields.mac.clear();
    const std::size_t mac = text.find("MAC=");
    if (mac != std::string_view::npos) {
        fields.mac = text.substr(mac + 4, macLength);
        for (char& c : fields.mac)
            if (c == ':') c = '-';
    }
}

}  // namespace quelvar
