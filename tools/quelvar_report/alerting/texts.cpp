#include "quelvar_report/alerting/texts.h"

#include <cstdio>

#include "quelvar_report/reading/dates.h"

namespace quelvar::report {

std::string momentShown(const std::string& moment) {
    std::string shown = moment.substr(0, 16);
    if (shown.size() > 10 && shown[10] == 'T') shown[10] = ' ';
    return shown;
}

std::string secondsShown(long long seconds) {
    char minutes[32];
    std::snprintf(minutes, sizeof minutes, "%.1f", static_cast<double>(seconds) / 60);
    return std::to_string(seconds) + " 秒（" + minutes + " 分钟）";
}

std::string timeShown(long long seconds) {
    if (seconds % 86400 == 0) return std::to_string(seconds / 86400) + " 天";
    if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + " 小时";
    if (seconds % 60 == 0) return std::to_string(seconds / 60) + " 分钟";
    return std::to_string(seconds) + " 秒";
}

namespace {

std::string lasting(long long seconds) {
    const long long minutes = seconds / 60;
    if (minutes < 60) return std::to_string(minutes) + " 分钟";
    return std::to_string(minutes / 60) + " 小时" + (minutes % 60 ? " " + std::to_string(minutes % 60) + " 分钟" : "");
}

}  // namespace

std::string callsText(const AlertRule& rule, const Alert& alert, bool unlisted, int numbers) {
    std::string text = alertWord;
    switch (rule.kind) {
    case RuleKind::call: text += "可疑呼叫："; break;
    case RuleKind::unlisted: text += "未登记分机外呼："; break;
    case RuleKind::longCall: text += "超长通话："; break;
    default: text += "话费超限："; break;
    }
    text += "交换机 " + alert.switchName.value_or("") + " 分机 " + alert.ext.value_or("") +
            (unlisted ? "（未登记）" : "") + " ";
    const std::string first = momentShown(alert.first.value_or(""));
    const std::string last = momentShown(alert.last.value_or(""));
    if (alert.calls.value_or(0) == 1) {
        text += first + " 拨打 " + alert.number.value_or("") + "，通话 " + secondsShown(alert.seconds.value_or(0));
    } else {
        text += first + " 至 " + last + " 拨打 " + alert.number.value_or("") +
                (numbers > 1 ? " 等 " + std::to_string(numbers) + " 个号码" : "") + " 共 " +
                std::to_string(alert.calls.value_or(0)) + " 次，通话 " + secondsShown(alert.seconds.value_or(0));
    }
    text += "，费用 " + yuanCents(alert.cost.value_or(0)) + " 元";
    if (rule.kind == RuleKind::longCall) text += "，超过 " + timeShown(rule.seconds);
    if (rule.kind == RuleKind::cost)
        text += "，超过 " + timeShown(rule.window) + "内 " + yuanCents(rule.amount) + " 元";
    if ((rule.kind == RuleKind::call || rule.kind == RuleKind::unlisted) && rule.count > 1)
        text += "（" + timeShown(rule.window) + "内达 " + std::to_string(rule.count) + " 次）";
    return text + "［规则 " + rule.key + "］";
}

std::string budgetText(const AlertRule& rule, const Alert& alert, const std::string& month, int percent) {
    const std::string& subject = alert.subject;
    const std::size_t colon = subject.find(':');
    const std::string who = (subject.starts_with("department:") ? "部门 " : "个人 ") + subject.substr(colon + 1);
    return std::string(alertWord) + "话费预算：" + who + " " + month + " 月话费截至 " +
           momentShown(alert.last.value_or("")) + " 已达 " + yuanCents(alert.cost.value_or(0)) + " 元，" +
           (percent >= 100 ? "已用完" : "已用 " + std::to_string(percent) + "%，将用完") + "每月 " +
           yuanCents(rule.amount) + " 元的限额（" + std::to_string(alert.calls.value_or(0)) + " 次通话，" +
           secondsShown(alert.seconds.value_or(0)) + "）［规则 " + rule.key + "］";
}

std::string silenceText(const std::string& switchName, const std::string& since, long long usualSeconds,
                        const std::vector<std::string>& missedDays, long long limit) {
    std::string text = std::string(alertWord) + "交换机无话单：交换机 " + switchName + " 自 " + momentShown(since) +
                       " 起没有话单";
    if (!missedDays.empty()) {
        text += "，";
        for (std::size_t i = 0; i < missedDays.size(); ++i) text += (i ? "、" : "") + missedDays[i];
        text += " 全天无话单";
    }
    if (usualSeconds > 0) text += "，通常有话单的时段内已中断 " + lasting(usualSeconds);
    return text + "（限 " + timeShown(limit) + "），请检查交换机、网络与采集程序";
}

std::string subjectOf(const Alert& alert) {
    std::string kind = "话费超限";
    if (alert.rule == "silent") kind = alert.closing ? "交换机恢复" : "交换机无话单";
    else if (alert.rule == "call") kind = "可疑呼叫";
    else if (alert.rule == "unlisted") kind = "未登记分机外呼";
    else if (alert.rule == "long") kind = "超长通话";
    else if (alert.rule == "budget") kind = "话费预算";
    return std::string(alertWord) + kind + " " + alert.subject;
}

std::string heardAgainText(const std::string& switchName, const std::string& since, const std::string& again) {
    long long from = 0, to = 0;
    const bool both = parseMoment(since, from) && parseMoment(again, to);
    return std::string(alertWord) + "交换机恢复：交换机 " + switchName + " 于 " + momentShown(again) +
           " 再次收到话单，自 " + momentShown(since) + " 起的中断已结束" +
           (both ? "（共 " + lasting(to - from) + "）" : std::string());
}

}  // namespace quelvar::report
