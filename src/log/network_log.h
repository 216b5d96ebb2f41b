#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "core/time.h"
#include "log/event_log.h"
#include "log/line_cap.h"

namespace quelvar {

// The kinds of lines a datagram can make the collector write, each counted
// apart so that its summary line says what was held back.
enum class NetworkLine {
    unknown,     // a datagram that is no record, or one of too many lines
    refused,     // a sender that ALLOW leaves out
    notWritten,  // a record that could not be filed (or was refused a folder)
    other,       // a line of a record datagram that is no record, and its "recvfrom" line
};

// Every line that the network causes goes through here, so that no sender,
// nor all senders together, can fill the disk with the event log: each
// sender gets a few lines of each kind a minute, all senders together a
// bounded number, and what is held back is counted and told once its minute
// is over. The "recvfrom" line of a record that was filed is the log of the
// calls and always written; it only has its payload cut. The receive loop
// names the sender of each datagram before it is handled; the loop owns the
// one instance.
class NetworkLog {
public:
    static constexpr std::size_t perSenderPerMinute = 10;
    static constexpr std::size_t allSendersPerMinute = 300;
    // Senders told apart in one minute; those beyond share one count.
    static constexpr std::size_t sendersPerMinute = 256;

    explicit NetworkLog(const EventLog& log);

    const EventLog& eventLog() const { return log_; }

    // The sender of the datagram in hand.
    void from(std::string address, int port, TimeValue now);
    const std::string& address() const { return address_; }
    int port() const { return port_; }
    TimeValue now() const { return now_; }

    // Whether a line of this kind about the sender in hand may be written
    // now; a line that may not is counted.
    bool admit(NetworkLine kind);
    // The line, when `admit` lets it through.
    void write(NetworkLine kind, std::wstring_view line);
    void writePlain(NetworkLine kind, std::string_view line);

    // Writes the counts of the minutes that are over.
    void tick(TimeValue now);
    // Writes every count, at a stop.
    void close();

private:
    LineCap& capOf(NetworkLine kind);

    const EventLog& log_;
    std::string address_;
    int port_ = 0;
    TimeValue now_ = 0;
    LineCap unknown_;
    LineCap refused_;
    LineCap notWritten_;
    LineCap other_;
    // The lines of all senders together in the minute from `minuteStart_`.
    TimeValue minuteStart_ = 0;
    std::size_t written_ = 0;
};

// The most characters of a datagram's text that one log line shows.
inline constexpr std::size_t longestShownPayload = 512;

// A text from the network as a log line shows it: control characters
// escaped (see escapeControlCharacters), cut after its first 512 characters
// of escaped text; a cut text ends in "... (N more bytes)", N the bytes left
// out (in GBK for wide text, as received for 8-bit text).
std::wstring shownPayload(std::wstring_view text);
std::string shownPayload(std::string_view bytes);

}  // namespace quelvar
