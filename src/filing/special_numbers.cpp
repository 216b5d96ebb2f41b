#include "filing/special_numbers.h"

#include <string>

#include "core/folders.h"
#include "log/warning.h"
#include "platform/files.h"

namespace quelvar {

namespace {

constexpr const char* builtInEntries[] = {
    "110", "112", "113", "115", "116", "119",
    "120", "122", "126", "127", "128",
    "160", "161", "162", "163", "165", "166", "167", "168", "169",
    "170", "172", "173", "176", "177",
    "180", "184", "185", "189",
    "191", "192", "193", "196", "199",
    "200", "221", "300", "600", "800", "999",
    "1251", "1258", "1259", "1641", "1642", "1643", "1644", "1645", "1646", "2580", "2585", "2588",
    "10000", "10010", "10060", "10070", "10086", "11185", "11888", "12110", "12117", "12121",
    "12310", "12315", "12318", "12320", "12333", "12336", "12345", "12355", "12358", "12365", "12366",
    "12369", "12380", "12388", "12395",
    "95119", "95501", "95505", "95508", "95509", "95511", "95512", "95518", "95519", "95522", "95528",
    "95533", "95555", "95556", "95558", "95559",
    "95561", "95566", "95567", "95568", "95577", "95588", "95590", "95595", "95598", "95599",
    "96102", "96156", "96189", "96315", "96677", "96678",
    "17900", "17901", "17910", "17911", "17950", "17951", "17960", "17961",
    "955588009995558", "16009999", "96528", "962528",
    "100xx", "11xxx", "121xx", "123xx", "179xx", "95xxx", "96xxx", "400xxxxxxx", "800xxxxxxx",
};
static_assert(std::size(builtInEntries) == 130);

}  // namespace

std::string specialNumberFilePath(const std::string& programFolder) { return pathIn(programFolder, "tele.ini"); }

void ensureSpecialNumberFile(const std::string& path, const EventLog& log) {
    // Opened as the classifier opens it, but not read yet.
    std::string existing;
    bool whole = true;
    platform::FileVersion version;
    if (platform::readRegularFile(path, 0, existing, whole, version).ok()) return;
    std::string contents;
    for (const char* entry : builtInEntries) {
        contents += entry;
        contents += "\r\n";
    }
    // Made only where nothing stands yet: a file that is there but cannot be
    // read is the administrator's, and is not overwritten.
    if (!platform::createNewFile(path, contents).ok()) showWarning(log, L"Quelvar", L"文件夹访问错误!");
}

}  // namespace quelvar
