#pragma once
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "core/address_range.h"
#include "filing/filing_batch.h"
#include "filing/intake.h"
#include "log/event_log.h"
#include "log/network_log.h"
#include "platform/status.h"

namespace quelvar {

// The port the switches send their records to.
inline constexpr int recordPort = 1809;

// A batch: the datagram received and those already waiting behind it, up to
// so many or so much work, filed, put on the disk and answered together.
inline constexpr std::size_t mostBatchDatagrams = 256;
inline constexpr std::chrono::milliseconds batchWork{10};

// Receives, files and acknowledges enciphered record datagrams on UDP port
// 1809 from the senders `allow` lets in, until a stop is asked for, the
// lines the network causes going through `lines`: a datagram is
// acknowledged once every line of it is written and its batch committed,
// and otherwise taken back through `batch`. Fails when it cannot start,
// after telling why in the log and on standard error.
Status runEncryptedReceiver(const EventLog& log, NetworkLog& lines, Intake& intake, FilingBatch& batch,
                            const std::vector<AddressRange>& allow);

// The call's key against repeats from the datagram's RID: its 8-bit text
// before its first "-"; none when the RID has no "-".
std::string repeatKeyOf(std::wstring_view rid);

}  // namespace quelvar
