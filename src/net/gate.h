#pragma once
#include <vector>

#include "core/address_range.h"
#include "core/time.h"
#include "log/event_log.h"
#include "log/line_cap.h"
#include "platform/udp.h"

namespace quelvar {

// What a datagram passes before its mode looks at it: whether its sender may
// send at all, and how much of a flood of junk the log hears of.
class Gate {
public:
    Gate(const EventLog& log, std::vector<AddressRange> allow) : log_(log), allow_(std::move(allow)) {}

    // Whether the sender may send: without an ALLOW list everyone may. A
    // refused datagram is neither filed nor answered, only told in the log.
    bool admits(const platform::Peer& sender, TimeValue now);

    // Whether a line about a datagram that is no record may be written for
    // this sender now.
    bool mayTellUnknown(const platform::Peer& sender, TimeValue now) { return unknown_.admit(sender.address, now); }

    // Writes the counts of the minutes that are over.
    void tick(TimeValue now);
    // Writes every count, at a stop.
    void close();

private:
    const EventLog& log_;
    std::vector<AddressRange> allow_;
    LineCap unknown_{L"WARNING   %d more unknown messages from %s suppressed\r\n"};
    LineCap refused_{L"WARNING   %d more datagrams from %s refused\r\n"};
};

}  // namespace quelvar
