#include "message/plain_fields.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

TEST(ExtractPlainFields, ReadsEachKeyLooselyAndTheMacAcrossFields) {
    const struct {
        const char* text;
        PlainFields expected;
    } cases[] = {
        {"RECORD:RID=7-2&ACCOUNT=8001&CPN=13812345678&CDPN=075512345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&"
         "TIME-S=231208093015&DURATION=75&TRUNKN=3&",
         {"7-2", "8001", "OU", "13812345678", "075512345678", "231208093015", "75", "IP", "3", "00-1A-2B-3C-4D-5E"}},
        // The last value needs an "&" after it.
        {"RECORD:RID=1-1&TRUNKN=3", {"1-1", "", "", "", "", "", "", "", "", ""}},
        // The first occurrence wins, and CPN= is not found inside CDPN=.
        {"RECORD:CDPN=5&RID=1&RID=2&", {"1", "", "", "", "5", "", "", "", "", ""}},
        // The MAC runs across "&"; TYPE is still found by itself.
        {"MAC=00:11:22&TYPE=IN&", {"", "", "IN", "", "", "", "", "", "", "00-11-22&TYPE=IN&"}},
        {"RECORD:MAC=00:11", {"", "", "", "", "", "", "", "", "", "00-11"}},
        // A key inside another field's value counts as well.
        {"RECORD:ACCOUNT=xRID=9&", {"9", "xRID=9", "", "", "", "", "", "", "", ""}},
        // Values are kept whole, however long.
        {"RECORD:CPN=123456789012345678901234567890&",
         {"", "", "", "123456789012345678901234567890", "", "", "", "", "", ""}},
        {"", {}},
    };
    for (const auto& each : cases) {
        PlainFields fields{"stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale"};
        extractPlainFields(each.text, fields);
        const PlainFields& e = each.expected;
        const std::string label = each.text;
        EXPECT_EQ(fields.rid, e.rid) << label;
        EXPECT_EQ(fields.account, e.account) << label;
        EXPECT_EQ(fields.type, e.type) << label;
        EXPECT_EQ(fields.cpn, e.cpn) << label;
        EXPECT_EQ(fields.cdpn, e.cdpn) << label;
        EXPECT_EQ(fields.timeStart, e.timeStart) << label;
        EXPECT_EQ(fields.duration, e.duration) << label;
        EXPECT_EQ(fields.route, e.route) << label;
        EXPECT_EQ(fields.trunk, e.trunk) << label;
        EXPECT_EQ(fields.mac, e.mac) << label;
    }
}

}  // namespace
}  // namespace quelvar
