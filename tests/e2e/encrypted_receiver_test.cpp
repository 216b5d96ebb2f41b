// The default mode end to end: enciphered datagrams from a switch on the
// loopback, answers read back and deciphered with OpenSSL, the event log
// compared byte for byte.
#include <gtest/gtest.h>

#include <thread>

#include "e2e/harness.h"
#include "e2e/switch_client.h"

namespace {

const std::string mac = "MAC=00-1A-2B-3C-4D-5E&";

class EncryptedReceiver : public testing::Test {
protected:
    void SetUp() override { folder.start(); }

    // The log texts written since the start lines.
    std::string newLog() const {
        const std::string texts = folder.todaysLogTexts();
        const std::string start = collectorPath(folder.path()) + "\r\n";
        return texts.substr(texts.find(start) + start.size());
    }
    std::string recvfrom(const std::string& line) const {
        return "recvfrom 127.0.0.1:" + std::to_string(sw.port()) + " [" + line + "]\r\n";
    }
    // Sends a record that is always acknowledged, so that everything before
    // it has been handled once its answer is here.
    void expectNothingMoreBefore(const std::string& probeId) {
        sw.send("RECORD:ID=" + probeId + "&RID=" + probeId + "-0&" + mac);
        EXPECT_EQ(sw.receive(), "RECORD:ID=" + probeId);
    }

    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(EncryptedReceiver, AcknowledgesALineWithAMacAndLogsIt) {
    const std::string line = "RECORD:ID=5&RID=10-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&" + mac +
                             "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
    sw.send(line);
    EXPECT_EQ(sw.receive(), "RECORD:ID=5");
    EXPECT_EQ(newLog(), recvfrom(line));
}

TEST_F(EncryptedReceiver, AcknowledgesTheHighestIdOfACall) {
    const std::string first = "RECORD:ID=41&RID=77-1&TYPE=OU&" + mac + "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
    const std::string second = "RECORD:ID=42&RID=77-2&TYPE=OU&" + mac + "TIME-S=240315093115&DURATION=20&TRUNKN=5&";
    sw.send(first + "\n" + second);
    EXPECT_EQ(sw.receive(), "RECORD:ID=42");
    EXPECT_EQ(newLog(), recvfrom(first) + recvfrom(second));

    const struct {
        std::string firstId, secondId, acknowledged;
    } cases[] = {{"9", "10", "RECORD:ID=10"}, {"7", "007", "RECORD:ID=7"}, {" 12x", "3", "RECORD:ID= 12x"}};
    int call = 100;
    for (const auto& each : cases) {
        const std::string rid = std::to_string(++call);
        sw.send("RECORD:ID=" + each.firstId + "&RID=" + rid + "-1&" + mac + "\nRECORD:ID=" + each.secondId +
                "&RID=" + rid + "-2&" + mac);
        EXPECT_EQ(sw.receive(), each.acknowledged);
    }
}

TEST_F(EncryptedReceiver, GivesNoAcknowledgementWithoutAPositiveIdOfARecordWithMac) {
    sw.send("RECORD:ID=0&RID=1-1&" + mac + "\nRECORD:ID=&RID=1-2&" + mac + "\nRECORD:ID=x&RID=1-3&" + mac);
    sw.send("RECORD:ID=8&RID=2-1&");        // no MAC: the workbook's
    sw.send("record:ID=9&RID=3-1&" + mac);  // not a record head for the intake
    expectNothingMoreBefore("500");
    const std::string lowerCase = "record:ID=9&RID=3-1&" + mac;
    EXPECT_NE(newLog().find("not a record 127.0.0.1:" + std::to_string(sw.port()) + " [" + lowerCase + "]\r\n" +
                            recvfrom(lowerCase)),
              std::string::npos)
        << "a line without the capital head is logged behind a head of the collector's own";
}

TEST_F(EncryptedReceiver, LogsUnknownDatagramsAndAnswersNothing) {
    sw.send("hello \xD6\xD0");
    sw.send("");
    sw.sendRaw(encipherDatagram("RECORD").substr(0, 16));
    expectNothingMoreBefore("600");
    const std::string sender = "127.0.0.1:" + std::to_string(sw.port());
    const std::string log = newLog();
    EXPECT_EQ(log.substr(0, log.find("recvfrom")), "unknown message " + sender +
                                                       " [hello \xD6\xD0]\r\nunknown message " + sender +
                                                       " []\r\nunknown message " + sender + " [RECORD]\r\n");
}

TEST_F(EncryptedReceiver, RepeatWithinTheWindowIsAnsweredAgainButNotFiledAgain) {
    const std::string line = "RECORD:ID=31&RID=88-1&" + mac;
    sw.send(line);
    EXPECT_EQ(sw.receive(), "RECORD:ID=31");
    sw.send(line);
    EXPECT_EQ(sw.receive(), "RECORD:ID=31");
    // Another leg of the same call is a repeat as well, answered as the first.
    sw.send("RECORD:ID=32&RID=88-2&" + mac);
    EXPECT_EQ(sw.receive(), "RECORD:ID=31");
    EXPECT_EQ(newLog(), recvfrom(line));
}

TEST_F(EncryptedReceiver, HandsOverEveryLineOfALongCall) {
    std::string datagram;
    std::string expected;
    for (int index = 1; index <= 7; ++index) {
        const std::string line = "RECORD:ID=" + std::to_string(index) + "&RID=55-" + std::to_string(index) + "&" + mac;
        datagram += line + "\n";
        expected += recvfrom(line);
    }
    sw.send(datagram);
    EXPECT_EQ(sw.receive(), "RECORD:ID=7");
    EXPECT_EQ(newLog(), expected);
}

// The log shows the first 512 characters of a line (the GBK name counts two)
// and how many bytes it left out; the record files have it whole.
TEST_F(EncryptedReceiver, KeepsGbkTextAndShowsALongLineCut) {
    const std::string line =
        "RECORD:ID=3&RID=66-1&ACCOUNT=" + gbk("张三") + "&CPN=" + std::string(6000, '8') + "&" + mac;
    sw.send(line);
    EXPECT_EQ(sw.receive(), "RECORD:ID=3");
    const std::size_t shownBytes = 512 + 2;
    EXPECT_EQ(newLog(), recvfrom(line.substr(0, shownBytes) + "... (" + std::to_string(line.size() - shownBytes) +
                                 " more bytes)"));
}

}  // namespace
