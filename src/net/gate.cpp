#include "net/gate.h"

#include <algorithm>

#include "core/format.h"
#include "core/text.h"

namespace quelvar {

bool Gate::admits(const platform::Peer& sender, TimeValue now) {
    lines_.from(sender.address, sender.port, now);
    if (allow_.empty() ||
        std::any_of(allow_.begin(), allow_.end(), [&](const AddressRange& range) { return contains(range, sender.ipv4); }))
        return true;
    lines_.write(NetworkLine::refused, formatText(L"WARNING   datagram from %s refused\r\n", fromAnsi(sender.address)));
    return false;
}

}  // namespace quelvar
