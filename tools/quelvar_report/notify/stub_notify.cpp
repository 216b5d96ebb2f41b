// Temporary stand-in until the delivery library lands; removed before merging.
#include "quelvar_report/notify/notify.h"

namespace quelvar::report {

Status parseChannel(std::string_view text, Channel& channel) {
    if (text == "log") {
        channel = Channel{Channel::Kind::log, ""};
        return {};
    }
    if (text.starts_with("mail:") && text.size() > 5) {
        channel = Channel{Channel::Kind::mail, std::string(text.substr(5))};
        return {};
    }
    if (text.starts_with("webhook:http")) {
        channel = Channel{Channel::Kind::webhook, std::string(text.substr(8))};
        return {};
    }
    return Status::error(Status::Code::damaged, "", "", "bad channel " + std::string(text));
}

Status deliver(const Channel& channel, const Message& message, const DeliveryOptions& options) {
    if (channel.kind == Channel::Kind::log) {
        std::fprintf(options.log, "%s\n", message.text.c_str());
        return {};
    }
    return Status::error(Status::Code::failed, "deliver", channel.target, "not built");
}

std::chrono::seconds retryDelay(int failures) {
    return std::chrono::seconds(60 << std::min(std::max(failures, 1) - 1, 6));
}

}  // namespace quelvar::report
