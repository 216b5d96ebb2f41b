#pragma once
// Delivery of an alert to one channel: a line in the log, a mail through the
// system's sendmail, or an HTTP POST to a webhook (a WeCom or DingTalk group
// robot, or any receiver of JSON). One try per call; retrying is the
// caller's, with retryDelay.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quelvar::report {

struct Channel {
    enum class Kind { log, mail, webhook };
    Kind kind;
    std::string target;  // the address or the URL; empty for log
};

// "log", "mail:ADDRESS" (one plain address), "webhook:URL" (http or https).
// An error names the bad entry.
Status parseChannel(std::string_view text, Channel& channel);

struct Message {
    std::string subject;  // a mail's subject (UTF-8)
    std::string text;     // the one-line message (UTF-8)
    std::string json;     // the alert object as JSON, posted as it is to a plain webhook
};

struct DeliveryOptions {
    std::string sendmail = "/usr/sbin/sendmail";  // --sendmail
    long timeoutSeconds = 10;
    std::FILE* log = stderr;  // where `log` writes its line
};

// Hands the message to the channel once. OK only when the channel took it:
// sendmail exited 0, the server answered 2xx (a WeCom/DingTalk robot also
// with errcode 0). Never throws, never blocks longer than the timeout.
Status deliver(const Channel& channel, const Message& message, const DeliveryOptions& options);

// How long to wait before the next try after `failures` failed tries:
// 1 minute after the first, then doubling (2, 4, 8 ... minutes), never more
// than an hour; 1 minute for 0 or fewer.
std::chrono::seconds retryDelay(int failures);

// A group robot's URL (WeCom qyapi.weixin.qq.com, DingTalk oapi.dingtalk.com,
// over https): it takes robotBody and answers {"errcode":0,...}.
bool isRobotUrl(std::string_view url);
// {"msgtype":"text","text":{"content":TEXT}}, TEXT escaped as JSON.
std::string robotBody(std::string_view text);
// `text` as a JSON string, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

// For tests, which cannot reach a robot: a webhook URL whose robot-ness is
// given rather than read from the host. Otherwise as deliver.
Status deliverWebhook(const std::string& url, bool robot, const Message& message, const DeliveryOptions& options);

}  // namespace quelvar::report
