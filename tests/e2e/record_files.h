#pragma once
// The daily record files as downstream billing software reads them, built
// here column by column from the published layout, independently of the
// collector's own formatting.
#include <string>

#include "e2e/switch_client.h"

struct RecordColumns {
    std::string rid, account, cpn, count, cdpn, teletype, type, route, timeStart, timeEnd, duration, trunk;
};

inline std::size_t characterCount(const std::string& utf8) {
    std::size_t characters = 0;
    for (const char byte : utf8)
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++characters;
    return characters;
}

// The text padded with blanks to `width` characters (not bytes).
inline std::string padded(const std::string& utf8, std::size_t width) {
    const std::size_t characters = characterCount(utf8);
    return characters >= width ? utf8 : utf8 + std::string(width - characters, ' ');
}

inline std::string zeroPaddedRid(const std::string& rid) {
    return rid.size() >= 19 ? rid : std::string(19 - rid.size(), '0') + rid;
}

inline std::string oldHeader(const std::string& macFolder) { return gbk("#2.0.0.10&" + macFolder + "\r\n"); }

// `timeEnd` holds the end the collector works out from TIME-S and DURATION.
inline std::string oldLine(const RecordColumns& r) {
    return gbk(padded(zeroPaddedRid(r.rid), 19) + " " + padded(r.cpn, 24) + " " + padded(r.cdpn, 24) + " " +
               padded(r.teletype, 12) + " " + padded(r.type, 2) + " " + padded(r.timeStart, 16) + " " +
               padded(r.timeEnd, 12) + " " + padded(r.duration, 5) + " " + padded(r.route, 2) + " " +
               padded(r.trunk, 32) + " " + padded(r.account, 15) + "\r\n");
}

inline std::string newHeader(const std::string& macFolder) {
    return gbk("#2.0.0.10&" + macFolder + "\r\n " + padded("Call-ID", 17) + " " + padded("Account", 17) + " " +
               padded("CPN", 20) + " " + padded("Count", 2) + " " + padded("CDPN", 22) + " " + padded("Teletype", 19) +
               " " + padded("Type", 4) + " " + padded("Route", 4) + " " + padded("Time-S", 12) + " " +
               padded("Time-E", 10) + " " + padded("Duration", 5) + " " + padded("Trunk-N", 32) + " \r\n");
}

inline std::string newLine(const RecordColumns& r) {
    const std::size_t teletypeWidth = characterCount(r.teletype) <= 2 ? 16 : 14;
    return gbk(padded(zeroPaddedRid(r.rid), 19) + " " + padded(r.account, 15) + " " + padded(r.cpn, 24) + " " +
               padded(r.count, 2) + " " + padded(r.cdpn, 24) + " " + padded(r.teletype, teletypeWidth) + " " +
               padded(r.type, 4) + " " + padded(r.route, 4) + " " + padded(r.timeStart, 12) + " " +
               padded(r.timeEnd, 12) + " " + padded(r.duration, 5) + " " + padded(r.trunk, 32) + " \r\n");
}

inline std::string csvHeader(const std::string& macFolder) {
    return gbk("#2.0.0.10&" + macFolder + "\r\n " + padded("编号", 17) + "," + padded("账号", 17) + "," +
               padded("主叫", 20) + "," + padded("被叫", 22) + "," + padded("话务类型", 19) + "," +
               padded("通话类型", 4) + "," + padded("路由规则", 4) + "," + padded("起始时间", 12) + "," +
               padded("结束时间", 10) + "," + padded("通话时长", 5) + "," + padded("中继号", 32) + "\r\n");
}

inline std::string csvLine(const RecordColumns& r, const std::string& typeLabel, const std::string& routeLabel) {
    return gbk(padded(zeroPaddedRid(r.rid), 19) + "," + padded(r.account, 15) + "," + padded(r.cpn, 24) + "," +
               padded(r.cdpn, 24) + "," + padded(r.teletype, 16) + "," + padded(typeLabel, 4) + "," +
               padded(routeLabel, 4) + "," + padded(r.timeStart, 12) + "," + padded(r.timeEnd, 12) + "," +
               padded(r.duration, 5) + "," + padded(r.trunk, 32) + "\r\n");
}
