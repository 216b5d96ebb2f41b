#include "quelvar_report/notify/notify.h"

#include <algorithm>

#include "quelvar_report/notify/channels.h"
#include "quelvar_report/notify/text.h"

namespace quelvar::report {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

Status badEntry(std::string_view text, std::string reason) {
    return Status::error(Status::Code::damaged, "notify", "\"" + oneLine(text) + "\"", std::move(reason));
}

Status writeLog(const Message& message, const DeliveryOptions& options) {
    if (options.log == nullptr) return Status::error(Status::Code::failed, "write alert", "log", "no stream");
    const std::string line = "quelvar-report: alert: " + oneLine(message.text) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), options.log) != line.size() || std::fflush(options.log) != 0)
        return Status::error(Status::Code::failed, "write alert", "log", "the stream took it not");
    return {};
}

}  // namespace

Status parseChannel(std::string_view text, Channel& channel) {
    const std::string_view entry = trimmed(text);
    if (entry.empty()) return badEntry(text, "empty: log, mail:ADDRESS or webhook:URL");
    if (entry.size() == 3 && startsWithNoCase(entry, "log")) {
        channel = {Channel::Kind::log, ""};
        return {};
    }
    if (startsWithNoCase(entry, "mail:")) {
        const std::string_view address = trimmed(entry.substr(5));
        if (const std::string problem = addressProblem(address); !problem.empty()) return badEntry(text, problem);
        channel = {Channel::Kind::mail, std::string(address)};
        return {};
    }
    if (startsWithNoCase(entry, "webhook:")) {
        const std::string_view url = trimmed(entry.substr(8));
        if (const std::string problem = urlProblem(url); !problem.empty()) return badEntry(text, problem);
        channel = {Channel::Kind::webhook, std::string(url)};
        return {};
    }
    return badEntry(text, "not log, mail:ADDRESS or webhook:URL");
}

Status deliver(const Channel& channel, const Message& message, const DeliveryOptions& options) {
    try {
        switch (channel.kind) {
            case Channel::Kind::log:
                return writeLog(message, options);
            case Channel::Kind::mail:
                return sendMail(channel.target, message, options);
            case Channel::Kind::webhook:
                return deliverWebhook(channel.target, isRobotUrl(channel.target), message, options);
        }
        return Status::error(Status::Code::unsupported, "deliver", "", "no such kind of channel");
    } catch (const std::exception& failure) {
        return Status::error(Status::Code::failed, "deliver", channel.target, failure.what());
    }
}

std::chrono::seconds retryDelay(int failures) {
    // 1, 2, 4 ... minutes: a receiver down for a moment is tried again soon,
    // one down for the night is not hammered; an hour at most, so that a
    // channel that comes back is used within the hour.
    constexpr long first = 60, cap = 3600;
    long delay = first;
    for (int i = 1; i < failures && delay < cap; ++i) delay *= 2;
    return std::chrono::seconds(std::min(delay, cap));
}

std::string robotBody(std::string_view text) {
    return R"({"msgtype":"text","text":{"content":)" + jsonString(text) + "}}";
}

}  // namespace quelvar::report
