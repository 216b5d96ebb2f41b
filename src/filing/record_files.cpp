#include "filing/record_files.h"

#include "core/format.h"
#include "core/text.h"

namespace quelvar {

std::wstring_view textColumnHeads() {
    static const std::wstring heads =
        formatText(L" %-17s %-17s %-20s %-2s %-22s %-19s %-4s %-4s %-12s %-10s %-5s %-32s \r\n", L"Call-ID",
                   L"Account", L"CPN", L"Count", L"CDPN", L"Teletype", L"Type", L"Route", L"Time-S", L"Time-E",
                   L"Duration", L"Trunk-N");
    return heads;
}

std::wstring recordNotWritten(const Status& failure) {
    return formatText(L"ERROR   record not written to %s: %s\r\n", escapeControlCharacters(fromAnsi(failure.subject())),
                      fromAnsi(failure.reason()));
}

std::string recordNotWrittenBytes(const Status& failure) {
    return formatBytes("ERROR   record not written to %s: %s", escapeControlCharacters(failure.subject()),
                       failure.reason());
}

std::wstring filedWithoutDay(std::wstring_view rid, std::wstring_view timeStart) {
    // The six digits alone: the rest of the value is the network's.
    return formatText(L"WARNING   record %s dated 20%.2s-%.2s-%.2s, a day no calendar has, filed under err\r\n",
                      escapeControlCharacters(rid), timeStart.substr(0, 2), timeStart.substr(2, 2),
                      timeStart.substr(4, 2));
}

std::string filedWithoutDayBytes(std::string_view rid, std::string_view timeStart) {
    return formatBytes("WARNING   record %s dated 20%.2s-%.2s-%.2s, a day no calendar has, filed under err",
                       escapeControlCharacters(rid), timeStart.substr(0, 2), timeStart.substr(2, 2),
                       timeStart.substr(4, 2));
}

std::wstring linesNotTakenBack(const Status& failure) {
    return formatText(L"ERROR   lines of a datagram not acknowledged left in %s: %s\r\n",
                      escapeControlCharacters(fromAnsi(failure.subject())), fromAnsi(failure.reason()));
}

std::string linesNotTakenBackBytes(const Status& failure) {
    return formatBytes("ERROR   lines of a datagram not acknowledged left in %s: %s",
                       escapeControlCharacters(failure.subject()), failure.reason());
}

}  // namespace quelvar
