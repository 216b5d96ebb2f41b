#pragma once
#include <vector>

#include "core/address_range.h"
#include "core/time.h"
#include "log/network_log.h"
#include "platform/udp.h"

namespace quelvar {

// What a datagram passes before its mode looks at it: whether its sender may
// send at all, and how much of a flood of junk the log hears of.
class Gate {
public:
    Gate(NetworkLog& lines, std::vector<AddressRange> allow) : lines_(lines), allow_(std::move(allow)) {}

    // Whether the sender may send: without an ALLOW list everyone may. A
    // refused datagram is neither filed nor answered, only told in the log.
    // The sender becomes the one whose lines the log counts.
    bool admits(const platform::Peer& sender, TimeValue now);

    // Whether a line about a datagram that is no record may be written for
    // the sender admitted last.
    bool mayTellUnknown() { return lines_.admit(NetworkLine::unknown); }

    // The lines the sender admitted last causes.
    NetworkLog& lines() { return lines_; }

    // Writes the counts of the minutes that are over.
    void tick(TimeValue now) { lines_.tick(now); }
    // Writes every count, at a stop.
    void close() { lines_.close(); }

private:
    NetworkLog& lines_;
    std::vector<AddressRange> allow_;
};

}  // namespace quelvar
