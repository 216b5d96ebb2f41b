#pragma once
// Record lines as the collector's two writers lay them out (the layouts of
// src/filing/record_writer.cpp and plain_writer.cpp), in GBK.
#include <string>

#include "core/format.h"
#include "core/text.h"

struct Leg {
    std::wstring rid, cpn, cdpn, teletype, type, start, end, duration, route, trunk, account;
};

// Encrypted mode, old/: each record line as it came.
inline std::string encryptedLegLine(const Leg& l) {
    return quelvar::toGbk(quelvar::formatText(L"%-19s %-24s %-24s %-12s %-2s %-16s %-12s %-5s %-2s %-32s %-15s",
                                              l.rid, l.cpn, l.cdpn, l.teletype, l.type, l.start, l.end, l.duration,
                                              l.route, l.trunk, l.account));
}

// Encrypted mode, new/: the merged record, COUNT and the first leg's times.
inline std::string encryptedMergedLine(const Leg& l, const std::wstring& count) {
    const wchar_t* format = l.teletype.size() <= 2
                                ? L"%-19s %-15s %-24s %-2s %-24s %-16s %-4s %-4s %-12s %-12s %-5s %-32s "
                                : L"%-19s %-15s %-24s %-2s %-24s %-14s %-4s %-4s %-12s %-12s %-5s %-32s ";
    return quelvar::toGbk(quelvar::formatText(format, l.rid, l.account, l.cpn, count, l.cdpn, l.teletype, l.type,
                                              l.route, l.start, l.end, l.duration, l.trunk));
}

inline std::string encryptedCsvLine(const Leg& l, const std::wstring& typeLabel, const std::wstring& routeLabel) {
    return quelvar::toGbk(quelvar::formatText(L"%-19s,%-15s,%-24s,%-24s,%-16s,%-4s,%-4s,%-12s,%-12s,%-5s,%-32s",
                                              l.rid, l.account, l.cpn, l.cdpn, l.teletype, typeLabel, routeLabel,
                                              l.start, l.end, l.duration, l.trunk));
}

// Plain mode: the same record in all three files, padded by bytes.
inline std::string plainMergedLine(const Leg& l) {
    using quelvar::toGbk;
    return quelvar::formatBytes("%-17s %-15s %-24s 1  %-24s %-16s   %-4s %-4s %-12s %-12s %-5s %-32s ", toGbk(l.rid),
                                toGbk(l.account), toGbk(l.cpn), toGbk(l.cdpn), toGbk(l.teletype), toGbk(l.type),
                                toGbk(l.route), toGbk(l.start), toGbk(l.end), toGbk(l.duration), toGbk(l.trunk));
}

inline std::string plainCsvLine(const Leg& l, const std::wstring& typeLabel, const std::wstring& routeLabel) {
    using quelvar::toGbk;
    return quelvar::formatBytes("%-17s,%-15s,%-24s,%-24s,%-16s,%-4s,%-4s,%-12s,%-12s,%-5s,%-32s ", toGbk(l.rid),
                                toGbk(l.account), toGbk(l.cpn), toGbk(l.cdpn), toGbk(l.teletype), toGbk(typeLabel),
                                toGbk(routeLabel), toGbk(l.start), toGbk(l.end), toGbk(l.duration), toGbk(l.trunk));
}

inline std::string plainLegLine(const Leg& l) {
    using quelvar::toGbk;
    return quelvar::formatBytes("%-19s %-24s %-24s %-16s   %-2s %-12s %-12s %-5s %-2s %-32s %-15s", toGbk(l.rid),
                                toGbk(l.cpn), toGbk(l.cdpn), toGbk(l.teletype), toGbk(l.type), toGbk(l.start),
                                toGbk(l.end), toGbk(l.duration), toGbk(l.route), toGbk(l.trunk), toGbk(l.account));
}

// The headers each file starts with.
inline std::string legHeader(const std::string& switchName) { return "#2.0.0.10&" + switchName + "\r\n"; }
inline std::string textHeader(const std::string& switchName) {
    return legHeader(switchName) +
           " Call-ID           Account           CPN                  Count CDPN                   Teletype"
           "            Type Route Time-S       Time-E     Duration Trunk-N                          \r\n";
}
inline std::string csvHeader(const std::string& switchName, bool plain) {
    return legHeader(switchName) +
           quelvar::toGbk(plain ? L" 编号               ,账号               ,主叫                  ,被叫                    "
                                  L",话务类型               ,通话类型,路由规则,开始时间        ,结束时间      ,通话时长 ,中继号"
                                  L"                              \r\n"
                                : L" 编号               ,账号               ,主叫                  ,被叫                    "
                                  L",话务类型               ,通话类型,路由规则,起始时间        ,结束时间      ,通话时长 ,中继号"
                                  L"                             \r\n");
}
