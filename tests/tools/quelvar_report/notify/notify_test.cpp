// An alert's delivery, against a real local HTTP receiver and a stand-in
// sendmail; the mails are read back with Python's email package.
#include "quelvar_report/notify/notify.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>

#include "support/json_reader.h"
#include "support/outside_readers.h"
#include "support/temp_folder.h"
#include "tools/quelvar_report/fixtures/receivers.h"

namespace {

using quelvar::report::Channel;
using quelvar::report::DeliveryOptions;
using quelvar::report::Message;
using Clock = std::chrono::steady_clock;

const Message alert{"【Quelvar 告警】分机 8021 夜间国际长途",
                    "【Quelvar 告警】分机 8021 在 02:14 拨出 00882 卫星电话 12 次，共 758.40 元",
                    R"({"rule":"call","ext":"8021","cost":"758.40"})"};

TEST(Notify, ChannelEntries) {
    struct Case {
        std::string text;
        bool ok;
        Channel::Kind kind;
        std::string target;
    };
    const std::vector<Case> cases = {
        {"log", true, Channel::Kind::log, ""},
        {" LOG ", true, Channel::Kind::log, ""},
        {"mail:ops@example.com", true, Channel::Kind::mail, "ops@example.com"},
        {"mail: root", true, Channel::Kind::mail, "root"},
        {"webhook:https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=abc", true, Channel::Kind::webhook,
         "https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=abc"},
        {"webhook:http://10.0.0.5:8080/alerts", true, Channel::Kind::webhook, "http://10.0.0.5:8080/alerts"},
        // What could reach sendmail's options, add a header or a recipient,
        // or is no address or URL at all.
        {"", false, {}, ""},
        {"mail:", false, {}, ""},
        {"mail:-oQ/tmp/x", false, {}, ""},
        {"mail:ops@example.com\nBcc: all@example.com", false, {}, ""},
        {"mail:ops@example.com,boss@example.com", false, {}, ""},
        {"mail:Ops <ops@example.com>", false, {}, ""},
        {"mail:ops@", false, {}, ""},
        {"mail:运维@example.com", false, {}, ""},
        {"webhook:ftp://example.com/x", false, {}, ""},
        {"webhook:file:///etc/passwd", false, {}, ""},
        {"webhook:https://", false, {}, ""},
        {"webhook:http://example.com/a b", false, {}, ""},
        {"sms:13800138000", false, {}, ""},
    };
    for (const Case& c : cases) {
        Channel channel{Channel::Kind::log, "before"};
        const quelvar::Status status = quelvar::report::parseChannel(c.text, channel);
        EXPECT_EQ(status.ok(), c.ok) << c.text << ": " << status.text();
        if (c.ok) {
            EXPECT_EQ(channel.kind, c.kind) << c.text;
            EXPECT_EQ(channel.target, c.target) << c.text;
        } else if (!c.text.empty()) {
            // The bad entry is named, on one line.
            EXPECT_NE(status.text().find(c.text.substr(0, c.text.find('\n'))), std::string::npos) << status.text();
            EXPECT_EQ(status.text().find('\n'), std::string::npos) << status.text();
        }
    }
}

TEST(Notify, RetryDelayGrowsToAnHour) {
    const std::vector<std::pair<int, long>> cases = {{0, 60},   {1, 60},    {2, 120}, {3, 240},       {6, 1920},
                                                     {7, 3600}, {50, 3600}, {-3, 60}, {INT_MAX, 3600}};
    for (const auto& [failures, seconds] : cases)
        EXPECT_EQ(quelvar::report::retryDelay(failures).count(), seconds) << failures;
}

TEST(Notify, RobotsAreKnownByTheirHostsAndGetTextAsJson) {
    EXPECT_TRUE(quelvar::report::isRobotUrl("https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=1"));
    EXPECT_TRUE(quelvar::report::isRobotUrl("https://OAPI.DingTalk.com/robot/send?access_token=1"));
    EXPECT_FALSE(quelvar::report::isRobotUrl("https://qyapi.weixin.qq.com.example.com/send"));
    EXPECT_FALSE(quelvar::report::isRobotUrl("https://example.com/oapi.dingtalk.com"));
    EXPECT_FALSE(quelvar::report::isRobotUrl("http://127.0.0.1:8080/hook"));

    // Quotes, backslashes, control characters and bytes that are no UTF-8
    // still make JSON that says the text.
    const std::string text = alert.text + " \"引号\" \\ tab\there\x01 bad:\xFF\xC0\xAF";
    const auto body = quelvar::test::JsonReader::read(quelvar::report::robotBody(text));
    ASSERT_TRUE(body) << quelvar::report::robotBody(text);
    EXPECT_EQ((*body)["msgtype"].string, "text");
    EXPECT_EQ((*body)["text"]["content"].string,
              alert.text + " \"引号\" \\ tab\there\x01 bad:\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Notify, LogWritesOneLine) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    DeliveryOptions options;
    options.log = log;
    Message message = alert;
    message.text += "\nsecond line";
    ASSERT_TRUE(quelvar::report::deliver({Channel::Kind::log, ""}, message, options).ok());
    std::rewind(log);
    char line[512] = "";
    std::string written;
    while (std::fgets(line, sizeof line, log)) written += line;
    std::fclose(log);
    EXPECT_EQ(written, "quelvar-report: alert: " + alert.text + " second line\n");
}

// To, Subject, the type and the body as a mail reader sees them.
std::string readMail(const TempFolder& folder, const std::string& message) {
    writeBytes(folder / "mail.eml", message);
    std::string output;
    const int status =
        outside::run(outside::quoted(outside::python()) +
                         " -c \"import sys, email, email.policy; "
                         "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default); "
                         "sys.stdout.buffer.write(('%s|%s|%s|%s' % (m['To'], m['Subject'], m.get_content_type(), "
                         "m.get_content())).encode())\" " +
                         outside::quoted(folder / "mail.eml"),
                     output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

TEST(Notify, MailGoesThroughSendmailAsUtf8) {
    TempFolder folder;
    const quelvar::test::StandInSendmail sendmail(folder.path());
    DeliveryOptions options;
    options.sendmail = sendmail.path();
    // A subject long enough to take several encoded words.
    Message message = alert;
    message.subject += "：国际长途、卫星电话、特服号码，共十二次，请立即核查是否为盗打";
    ASSERT_TRUE(quelvar::report::deliver({Channel::Kind::mail, "ops@example.com"}, message, options).ok());
    const auto calls = sendmail.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments, (std::vector<std::string>{"-t", "-oi"}));
    // Every line 7-bit and short, as any relay passes it.
    std::istringstream lines(calls[0].message);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 76u) << line;
        for (const char c : line) EXPECT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << line;
    }
    EXPECT_EQ(readMail(folder, calls[0].message),
              "ops@example.com|" + message.subject + "|text/plain|" + message.text + "\n");
}

TEST(Notify, MailFailsWhenSendmailDoesNotTakeIt) {
    TempFolder folder;
    const quelvar::test::StandInSendmail sendmail(folder.path());
    DeliveryOptions options;
    options.sendmail = sendmail.path();
    options.timeoutSeconds = 1;
    const Channel channel{Channel::Kind::mail, "ops@example.com"};

    sendmail.failWith(75);
    quelvar::Status status = quelvar::report::deliver(channel, alert, options);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.text().find("exited with 75: refused"), std::string::npos) << status.text();

    // One that never finishes is given up at the timeout, not waited for.
    sendmail.succeed();
    sendmail.hang();
    const auto start = Clock::now();
    status = quelvar::report::deliver(channel, alert, options);
    EXPECT_FALSE(status.ok());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << "a sendmail that hangs for a minute was waited for";
    EXPECT_NE(status.text().find("did not finish within 1 s"), std::string::npos) << status.text();

    // One that exits without reading the message: the delivery fails, the
    // program lives on (no SIGPIPE). More than a pipe holds, so that it
    // is written to after it ended.
    options.sendmail = "/bin/false";
    Message large = alert;
    large.text.assign(1 << 20, 'x');
    status = quelvar::report::deliver(channel, large, options);
    EXPECT_NE(status.text().find("exited with 1"), std::string::npos) << status.text();

    options.sendmail = folder / "no-such-sendmail";
    status = quelvar::report::deliver(channel, alert, options);
    EXPECT_TRUE(status.is(quelvar::Status::Code::notFound)) << status.text();

    // An address made by hand rather than parsed is checked all the same,
    // before anything runs.
    options.sendmail = sendmail.path();
    sendmail.succeed();
    status = quelvar::report::deliver({Channel::Kind::mail, "-bs"}, alert, options);
    EXPECT_FALSE(status.ok());
    status = quelvar::report::deliver({Channel::Kind::mail, "a@example.com\nBcc: b@example.com"}, alert, options);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(sendmail.calls().size(), 2u);
}

TEST(Notify, WebhookPostsTheAlertOrTheRobotsText) {
    TempFolder folder;
    const quelvar::test::HttpReceiver receiver(folder.path());
    ASSERT_TRUE(receiver.ready()) << "the local receiver (python3 http_receiver.py) did not start";
    const DeliveryOptions options;

    ASSERT_TRUE(quelvar::report::deliver({Channel::Kind::webhook, receiver.url("/plain")}, alert, options).ok());
    ASSERT_TRUE(quelvar::report::deliverWebhook(receiver.url("/robot"), true, alert, options).ok());
    const auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].head.substr(0, requests[0].head.find('\r')), "POST /plain HTTP/1.1");
    EXPECT_NE(requests[0].head.find("Content-Type: application/json; charset=utf-8\r\n"), std::string::npos)
        << requests[0].head;
    EXPECT_EQ(requests[0].body, alert.json);
    EXPECT_EQ(requests[1].head.substr(0, requests[1].head.find('\r')), "POST /robot HTTP/1.1");
    const auto robot = quelvar::test::JsonReader::read(requests[1].body);
    ASSERT_TRUE(robot) << requests[1].body;
    EXPECT_EQ((*robot)["msgtype"].string, "text");
    EXPECT_EQ((*robot)["text"]["content"].string, alert.text);
}

TEST(Notify, WebhookIsTakenOnlyOn2xxAndARobotOnlyWithErrcode0) {
    TempFolder folder;
    const quelvar::test::HttpReceiver receiver(folder.path());
    ASSERT_TRUE(receiver.ready()) << "the local receiver (python3 http_receiver.py) did not start";
    const DeliveryOptions options;
    struct Case {
        bool robot;
        std::string answer;
        bool ok;
        std::string said;  // in the error
    };
    const std::vector<Case> cases = {
        {false, "500 down", false, "answered 500: down"},
        {false, "404", false, "answered 404"},
        {false, "302", false, "answered 302"},
        {false, "204", true, ""},
        {true, R"(200 {"errcode":0,"errmsg":"ok"})", true, ""},
        {true, R"(200 {"errmsg":"errcode 0","errcode":310000})", false, "errcode 310000"},
        {true, R"(200 {"extra":{"errcode":0},"errcode":93000})", false, "errcode 93000"},
        {true, "200 <html>", false, "no errcode"},
        {true, R"(503 {"errcode":0})", false, "answered 503"},
    };
    for (const Case& c : cases) {
        receiver.answer(c.answer + "\n");
        const quelvar::Status status = quelvar::report::deliverWebhook(receiver.url(), c.robot, alert, options);
        EXPECT_EQ(status.ok(), c.ok) << c.answer << ": " << status.text();
        EXPECT_NE(status.text().find(c.said), std::string::npos) << status.text();
    }
    // A robot's key is a password: errors, which the journal and the index
    // keep, leave it out.
    receiver.answer("500\n");
    const quelvar::Status status =
        quelvar::report::deliverWebhook(receiver.url("/send?key=SECRET"), true, alert, options);
    EXPECT_NE(status.text().find(receiver.url("/send?...")), std::string::npos) << status.text();
    EXPECT_EQ(status.text().find("SECRET"), std::string::npos) << status.text();

    // 500 and then 200: the second try takes it.
    TempFolder again;
    const quelvar::test::HttpReceiver flaky(again.path());
    ASSERT_TRUE(flaky.ready());
    flaky.answer("500\n200\n");
    const Channel channel{Channel::Kind::webhook, flaky.url()};
    EXPECT_FALSE(quelvar::report::deliver(channel, alert, options).ok());
    EXPECT_TRUE(quelvar::report::deliver(channel, alert, options).ok());
    EXPECT_EQ(flaky.requests().size(), 2u);
}

TEST(Notify, WebhookGivesUpAtTheTimeout) {
    TempFolder folder;
    const quelvar::test::HttpReceiver receiver(folder.path());
    ASSERT_TRUE(receiver.ready()) << "the local receiver (python3 http_receiver.py) did not start";
    receiver.answer("delay 60 200\n");
    DeliveryOptions options;
    options.timeoutSeconds = 1;
    const auto start = Clock::now();
    const quelvar::Status status = quelvar::report::deliver({Channel::Kind::webhook, receiver.url()}, alert, options);
    EXPECT_FALSE(status.ok());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << "a receiver that answers in a minute was waited for";
    EXPECT_EQ(receiver.requests().size(), 1u);
}

TEST(Notify, WebhookNobodyListensAt) {
    // A port held but not listened on: the connection is refused.
    const int held = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(held, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/hook";
    const quelvar::Status status = quelvar::report::deliver({Channel::Kind::webhook, url}, alert, DeliveryOptions{});
    close(held);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.text().find(url), std::string::npos) << status.text();
}

}  // namespace
