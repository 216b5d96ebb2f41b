#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <map>

#include "core/time.h"
#include "log/event_log.h"

namespace quelvar {

// Keeps a flood of lines about one source from filling the log: in each
// minute from a source's first line on, its first few lines pass, the rest
// are counted and told in one line when the minute is over. The number of
// sources it tells apart in a minute is bounded too: those beyond share one
// count, as "other senders".
class LineCap {
public:
    // `summary` is the line that tells the count: a format with "%d" for how
    // many and "%s" for the source.
    explicit LineCap(std::wstring summary, std::size_t perMinute = 10, std::size_t sources = 1024)
        : summary_(std::move(summary)), perMinute_(perMinute), sources_(sources) {}

    // Whether a line about this source may be written now; without `room`
    // (a bound above this cap is reached) it is counted as held back.
    bool admit(const std::string& source, TimeValue now, bool room = true);

    // Writes the count of every minute that is over, or of every minute
    // when the program stops.
    void tell(const EventLog& log, TimeValue now);
    void tellAll(const EventLog& log);

    static constexpr TimeValue minute = 60;

private:
    struct Window {
        TimeValue start = 0;
        std::size_t passed = 0;
        std::size_t held = 0;
    };
    void tellWindow(const EventLog& log, const std::string& source, const Window& window) const;

    std::wstring summary_;
    std::size_t perMinute_;
    std::size_t sources_;
    std::map<std::string, Window, std::less<>> windows_;
    TimeValue lastLook_ = 0;
};

}  // namespace quelvar
