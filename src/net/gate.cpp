#include "net/gate.h"

#include <algorithm>

#include "core/format.h"
#include "core/text.h"

namespace quelvar {

bool Gate::admits(const platform::Peer& sender, TimeValue now) {
    if (allow_.empty() ||
        std::any_of(allow_.begin(), allow_.end(), [&](const AddressRange& range) { return contains(range, sender.ipv4); }))
        return true;
    if (refused_.admit(sender.address, now))
        log_.writeEventLine(formatText(L"WARNING   datagram from %s refused\r\n", fromAnsi(sender.address)));
    return false;
}

void Gate::tick(TimeValue now) {
    unknown_.tell(log_, now);
    refused_.tell(log_, now);
}

void Gate::close() {
    unknown_.tellAll(log_);
    refused_.tellAll(log_);
}

}  // namespace quelvar
