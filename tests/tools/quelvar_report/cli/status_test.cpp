// status on an index of four weeks: counts per switch and day, the hours a
// switch usually files in and the gaps in them, silences and dead switches
// first, times out of range, and the collector's event log.
#include <filesystem>

#include "tools/quelvar_report/index_fixture.h"

namespace {

using quelvar::test::Json;

const std::string busy = "00-1A-2B-3C-4D-5E";     // files at 09, 14 and 16 every day
const std::string young = "00-1A-2B-3C-4D-5F";    // two days old: no usual hours yet
const std::string silent = "00-1A-2B-3C-4D-60";   // stopped at the end of November
const std::string newcomer = "00-1A-2B-3C-4D-61"; // first filed on 6 December
const std::string skipper = "00-1A-2B-3C-4D-62";  // at 10 every day but Tuesday 8 December, and at night now and then

std::string day(int month, int dayOfMonth) {
    char text[16];
    std::snprintf(text, sizeof text, "2026-%02d-%02d", month, dayOfMonth);
    return text;
}

class Status : public IndexFixture {
protected:
    void SetUp() override {
        IndexFixture::SetUp();
        std::vector<Row> rows;
        int id = 0;
        const auto call = [&](const std::string& switchName, const std::string& start, int flags = 0,
                              const std::string& fileDay = "") {
            rows.push_back({switchName, std::to_string(++id), "8001", "8001", "13912345678", "国内长途", start, 30, 1,
                            flags, fileDay});
        };
        // 12 November to 8 December: every hour of 09, 14 and 16; 03 twice only.
        for (int n = 12; n <= 38; ++n) {
            const std::string date = n <= 30 ? day(11, n) : day(12, n - 30);
            for (const char* hour : {"T09:10:00", "T14:20:00", "T16:30:00"}) call(busy, date + hour);
        }
        call(busy, day(11, 20) + "T03:00:00");
        call(busy, day(11, 21) + "T03:00:00");
        // 9 December: only the morning, with an err record, a repeat, a line
        // that could not be read and a record a year older than its file.
        call(busy, day(12, 9) + "T09:10:00");
        call(busy, day(12, 9) + "T09:11:00");
        call(busy, day(12, 9) + "T09:20:00", quelvar::report::fromErrTree);
        call(busy, day(12, 9) + "T09:11:00", quelvar::report::repeatFiled);
        call(busy, "", quelvar::report::unparsable, day(12, 9));
        call(busy, "2025-11-01T10:00:00", 0, day(12, 9));
        // Today, 10 December at 15:30: the morning and 14:00 are over, 16:00 is not.
        call(busy, day(12, 10) + "T09:10:00");
        // A record stamped half a year ahead.
        call(busy, "2027-06-01T00:00:00");

        call(young, day(12, 8) + "T10:00:00");
        call(young, day(12, 9) + "T10:00:00");

        for (int n = 25; n <= 27; ++n) call(silent, day(11, n) + "T10:00:00");
        for (int n = 6; n <= 8; ++n) call(newcomer, day(12, n) + "T11:00:00");
        for (int n = 12; n <= 40; ++n) {
            const std::string date = n <= 30 ? day(11, n) : day(12, n - 30);
            if (date != day(12, 8)) call(skipper, date + "T10:00:00");
            if (n % 3 == 1) call(skipper, date + "T02:00:00");
        }
        insert(rows);

        std::filesystem::create_directories(folder.path() / "log");
        writeBytes(folder.path() / "log" / "20261209.log",
                   "2026-12-09   10:00:00   unknown message 10.1.2.3:5000 [hello]\r\n"
                   "2026-12-09   10:00:01   unknown message 10.1.2.3:5001 [hello again]\r\n"
                   "2026-12-09   10:01:00   WARNING   37 more unknown messages from 10.1.2.3 suppressed\r\n"
                   "2026-12-09   10:02:00   WARNING   datagram from 10.9.9.9 refused\r\n"
                   "2026-12-09   10:03:00   WARNING   12 more datagrams from 10.9.9.9 refused\r\n"
                   "2026-12-09   10:04:00   WARNING   datagram of more than 64 lines from 10.1.2.3:5000 refused\r\n"
                   "2026-12-09   10:05:00   recvfrom 10.1.2.3:5000 [RECORD:ID=1&unknown message 10.6.6.6:1 [x]]\r\n"
                   "2026-12-09   10:06:00   ERROR   record not written to /data/" + busy +
                       "/new/CDR_2026_12_09.txt: No space left on device\r\n"
                       "2026-12-09   10:07:00   \xB2\xBB\xCA\xC7 unknown message\r\n");
        writeBytes(folder.path() / "log" / "20261210.log",
                   "2026-12-10   08:00:00   ERROR   record not written to /data/x/old/CDR_2026_12_10.txt: Read-only file "
                   "system\r\n"
                   "2026-12-10   08:00:01   ERROR   record not written to /data/x/new/CDR_2026_12_10.txt: Read-only file "
                   "system\r\n");
        // Before the days asked for: not counted.
        writeBytes(folder.path() / "log" / "20261201.log",
                   "2026-12-01   08:00:00   unknown message 10.1.2.3:5000 [old]\r\n");
    }

    static const Json& switchNamed(const Json& answer, const std::string& name) {
        for (const Json& entry : answer["switches"].items)
            if (entry["switch"].string == name) return entry;
        ADD_FAILURE() << "no switch " << name;
        static const Json none;
        return none;
    }
};

std::vector<long long> numbers(const Json& array) {
    std::vector<long long> values;
    for (const Json& item : array.items) values.push_back(item.integer());
    return values;
}

TEST_F(Status, CountsEveryKindOfRowPerSwitchAndDay) {
    const Json answer = json("status", {"--days", "3"});
    EXPECT_EQ(answer["from"].string, "2026-12-08");
    EXPECT_EQ(answer["to"].string, "2026-12-10");
    ASSERT_EQ(answer["switches"].size(), 5u);
    const Json& entry = switchNamed(answer, busy);
    ASSERT_EQ(entry["days"].size(), 3u);
    struct Expected {
        std::string date;
        long long records, err, unparsable, repeats;
        std::vector<long long> gaps;
    };
    const std::vector<Expected> expected = {
        {"2026-12-08", 3, 0, 0, 0, {}},
        {"2026-12-09", 5, 1, 1, 1, {14, 16}},
        {"2026-12-10", 1, 0, 0, 0, {14}},  // 16:00 is not over yet
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Json& counts = entry["days"][i];
        EXPECT_EQ(counts["date"].string, expected[i].date);
        EXPECT_EQ(counts["records"].integer(), expected[i].records) << expected[i].date;
        EXPECT_EQ(counts["err_records"].integer(), expected[i].err) << expected[i].date;
        EXPECT_EQ(counts["unparsable"].integer(), expected[i].unparsable) << expected[i].date;
        EXPECT_EQ(counts["repeats"].integer(), expected[i].repeats) << expected[i].date;
        EXPECT_EQ(numbers(counts["gaps"]), expected[i].gaps) << expected[i].date;
    }
    EXPECT_EQ(numbers(entry["usual_hours"]), (std::vector<long long>{9, 14, 16})) << "03 on two days only is not usual";
    EXPECT_EQ(entry["last_record"].string, "2026-12-10T09:10:00") << "the record stamped ahead is not the last";
    EXPECT_EQ(entry["future_records"].integer(), 1);
    EXPECT_EQ(entry["past_records"].integer(), 1);
}

TEST_F(Status, ASwitchWithoutHistoryHasNoGapsAndASilentOneOnlyGaps) {
    const Json answer = json("status", {"--days", "3"});
    const Json& newOne = switchNamed(answer, young);
    EXPECT_EQ(newOne["usual_hours"].size(), 0u);
    EXPECT_EQ(newOne["last_record"].string, "2026-12-09T10:00:00");
    for (const Json& counts : newOne["days"].items) EXPECT_EQ(counts["gaps"].size(), 0u) << counts["date"].string;

    const Json& stopped = switchNamed(answer, silent);
    EXPECT_EQ(numbers(stopped["usual_hours"]), std::vector<long long>{10});
    EXPECT_EQ(stopped["last_record"].string, "2026-11-27T10:00:00");
    ASSERT_EQ(stopped["days"].size(), 3u) << "a silent switch is listed with every day";
    for (const Json& counts : stopped["days"].items) {
        EXPECT_EQ(counts["records"].integer(), 0);
        EXPECT_EQ(numbers(counts["gaps"]), std::vector<long long>{10}) << counts["date"].string;
    }
}

TEST_F(Status, NoGapsBeforeASwitchsFirstRecord) {
    const Json answer = json("status", {"--days", "7"});
    const Json& entry = switchNamed(answer, newcomer);
    EXPECT_EQ(numbers(entry["usual_hours"]), std::vector<long long>{11});
    std::vector<std::pair<std::string, std::size_t>> gaps;
    for (const Json& counts : entry["days"].items) gaps.emplace_back(counts["date"].string, counts["gaps"].size());
    EXPECT_EQ(gaps, (std::vector<std::pair<std::string, std::size_t>>{{"2026-12-04", 0},
                                                                       {"2026-12-05", 0},
                                                                       {"2026-12-06", 0},
                                                                       {"2026-12-07", 0},
                                                                       {"2026-12-08", 0},
                                                                       {"2026-12-09", 1},
                                                                       {"2026-12-10", 1}}));
}

TEST_F(Status, TheEventLogCountsEveryLineAndTheSuppressedOnes) {
    const Json answer = json("status", {"--days", "3"});
    const Json& log = answer["log"];
    ASSERT_EQ(log["days"].size(), 3u);
    EXPECT_EQ(log["days"][0]["not_written"].integer(), 0);
    EXPECT_EQ(log["days"][1]["not_written"].integer(), 1);
    EXPECT_EQ(log["days"][2]["not_written"].integer(), 2);
    ASSERT_EQ(log["senders"].size(), 2u) << "a record's text naming a sender is no sender";
    EXPECT_EQ(log["senders"][0]["sender"].string, "10.1.2.3");
    EXPECT_EQ(log["senders"][0]["unknown"].integer(), 39);
    EXPECT_EQ(log["senders"][0]["too_long"].integer(), 1);
    EXPECT_EQ(log["senders"][0]["refused"].integer(), 0);
    EXPECT_EQ(log["senders"][1]["sender"].string, "10.9.9.9");
    EXPECT_EQ(log["senders"][1]["refused"].integer(), 13);

    // Ten days reach the log of 1 December.
    const Json longer = json("status", {"--days", "10"});
    EXPECT_EQ(longer["log"]["senders"][0]["unknown"].integer(), 40);
}

TEST_F(Status, TheLogOfTheRootsGivenIsRead) {
    TempFolder copied;
    std::filesystem::create_directories(copied.path() / "log");
    writeBytes(copied.path() / "log" / "20261210.log",
               "2026-12-10   08:00:00   WARNING   5 more unknown messages from 10.4.4.4 suppressed\r\n");
    const Json answer = json("status", {"--days", "1", "--root", copied.path().string()});
    ASSERT_EQ(answer["log"]["senders"].size(), 1u);
    EXPECT_EQ(answer["log"]["senders"][0]["sender"].string, "10.4.4.4");
    EXPECT_EQ(answer["log"]["senders"][0]["unknown"].integer(), 5);
    EXPECT_EQ(answer["log"]["days"][0]["not_written"].integer(), 0) << "the program folder's log is not read";
}

TEST_F(Status, TableAndCsvShowTheGaps) {
    const Answer table = run("status", {"--days", "3"});
    ASSERT_EQ(table.status, 0) << table.error;
    EXPECT_NE(table.out.find(busy + "  2026-12-09        5    1           1        1          0           0  14 16\n"),
              std::string::npos)
        << table.out;
    const Answer csv = run("status", {"--days", "3", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.error;
    EXPECT_NE(csv.out.find("\r\n" + busy + ",2026-12-09,5,1,1,1,0,0,14 16\r\n"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\r\n" + busy + ",ok,2026-12-10T09:10:00,09 14 16,every day,1,1\r\n"), std::string::npos)
        << csv.out;
}

TEST_F(Status, SilencesComeFirstAndADeadSwitchIsShownDead) {
    const Json answer = json("status", {"--days", "3"});
    const Json& silences = answer["silences"];
    ASSERT_EQ(silences.size(), 3u) << "the busy switch's quiet afternoon came back within the day";
    EXPECT_EQ(silences[0]["switch"].string, silent);
    EXPECT_EQ(silences[0]["since"].string, "2026-11-27T10:00:00");
    EXPECT_EQ(silences[0]["until"].type, Json::Type::null);
    EXPECT_TRUE(silences[0]["dead"].boolean);
    EXPECT_EQ(switchNamed(answer, silent)["state"].string, "dead");
    EXPECT_EQ(silences[1]["switch"].string, newcomer);
    // A usual day missed in the days shown, though the switch came back the day after.
    EXPECT_EQ(silences[2]["switch"].string, skipper);
    EXPECT_EQ(silences[2]["since"].string, "2026-12-07T10:00:00");
    EXPECT_EQ(silences[2]["until"].string, "2026-12-09T10:00:00");
    EXPECT_EQ(silences[2]["missed_days"].size(), 1u);
    const Json& skipping = switchNamed(answer, skipper);
    EXPECT_EQ(skipping["state"].string, "ok");
    EXPECT_EQ(numbers(skipping["usual_hours"]), std::vector<long long>{10}) << "02 on a night in three is no habit";
    EXPECT_TRUE(skipping["days"][0]["missed"].boolean);
    EXPECT_EQ(switchNamed(answer, busy)["state"].string, "ok");
    EXPECT_EQ(switchNamed(answer, young)["state"].string, "learning");

    const Answer table = run("status", {"--days", "3"});
    ASSERT_EQ(table.status, 0) << table.error;
    EXPECT_EQ(table.out.rfind("Silences: ", 0), 0u) << table.out;
    const std::size_t dead = table.out.find(silent + "  dead         2026-11-27 10:00:00");
    EXPECT_LT(dead, table.out.find("Records by switch and day")) << table.out;
    EXPECT_NE(table.out.find(silent + "  2026-12-10        0    0           0        0          0           0  dead\n"),
              std::string::npos)
        << table.out;
    EXPECT_NE(
        table.out.find(skipper + "  2026-12-08        0    0           0        0          0           0  whole day\n"),
        std::string::npos)
        << table.out;
}

}  // namespace
