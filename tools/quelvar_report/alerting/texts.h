#pragma once
// The one-line messages of alerts, in Chinese. Each starts with the same
// word, which a DingTalk robot's keyword security asks for.
#include <string>

#include "quelvar_report/alerting/alerts.h"

namespace quelvar::report {

inline constexpr const char* alertWord = "【Quelvar 告警】";

// 2026-11-14T02:00:00 as 2026-11-14 02:00.
std::string momentShown(const std::string& moment);
// "5640 秒（94.0 分钟）"
std::string secondsShown(long long seconds);
// A time of a rule: "10 分钟", "2 小时", "1 天", "90 秒".
std::string timeShown(long long seconds);

// The text of an alert of calls (call, unlisted, long, cost) from its fields.
std::string callsText(const AlertRule& rule, const Alert& alert, bool unlisted, int numbers);
std::string budgetText(const AlertRule& rule, const Alert& alert, const std::string& month, int percent);
std::string silenceText(const std::string& switchName, const std::string& since, long long usualSeconds,
                        const std::vector<std::string>& missedDays, long long limit);
// A mail's subject: the word, what kind of alert, and about what.
std::string subjectOf(const Alert& alert);
std::string heardAgainText(const std::string& switchName, const std::string& since, const std::string& again);

}  // namespace quelvar::report
