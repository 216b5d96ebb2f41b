#include "store/plain_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "core/settings.h"
#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

std::string todaysLogName() { return todayAs("%Y%m%d.log"); }

TEST(StorePlainRecord, WritesTextsThatAreNoRecordsToTheEventLogByteForByte) {
    TempFolder folder;
    const std::string saved = settings.programDirAnsi;
    settings.programDirAnsi = folder.path().string();
    storePlainRecord("/opt/\xE8\xAF\x9D collector");
    storePlainRecord("Record:RID=1&MAC=00:11:22:33:44:55&");
    storePlainRecord("record:x\xD6\xD0");
    storePlainRecord("RECORD:RID=2&");  // a record, not a log line
    settings.programDirAnsi = saved;

    const std::string log = readBytes(folder.path() / "log" / todaysLogName());
    const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
    EXPECT_EQ(std::regex_replace(log, stamp, ""),
              "/opt/\xE8\xAF\x9D collector\r\nRecord:RID=1&MAC=00:11:22:33:44:55&\r\nrecord:x\xD6\xD0\r\n");
    EXPECT_EQ(log.substr(0, 4), todaysLogName().substr(0, 4));
}

}  // namespace
}  // namespace quelvar
