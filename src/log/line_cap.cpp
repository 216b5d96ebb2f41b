#include "log/line_cap.h"

#include "core/format.h"
#include "core/text.h"

namespace quelvar {

namespace {

const std::string otherSenders = "other senders";

}  // namespace

bool LineCap::admit(const std::string& source, TimeValue now, bool room) {
    auto found = windows_.find(source);
    if (found == windows_.end()) {
        const std::string& kept = windows_.size() < sources_ ? source : otherSenders;
        found = windows_.try_emplace(kept, Window{now, 0, 0}).first;
    }
    Window& window = found->second;
    if (room && window.passed < perMinute_) {
        ++window.passed;
        return true;
    }
    ++window.held;
    return false;
}

void LineCap::tellWindow(const EventLog& log, const std::string& source, const Window& window) const {
    if (window.held > 0)
        log.writeEventLine(formatText(summary_, static_cast<long long>(window.held), fromAnsi(source)));
}

void LineCap::tell(const EventLog& log, TimeValue now) {
    // Once a second is often enough to see which minutes are over.
    if (now == lastLook_) return;
    lastLook_ = now;
    for (auto window = windows_.begin(); window != windows_.end();) {
        if (now - window->second.start >= minute || now < window->second.start) {
            tellWindow(log, window->first, window->second);
            window = windows_.erase(window);
        } else {
            ++window;
        }
    }
}

void LineCap::tellAll(const EventLog& log) {
    for (const auto& [source, window] : windows_) tellWindow(log, source, window);
    windows_.clear();
}

}  // namespace quelvar
