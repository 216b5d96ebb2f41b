#pragma once
// The lines of the collector's record files, read back. Both modes' writers
// lay out their columns by padding to a width and write a longer value whole,
// pushing the rest of the line on: a column is read from where it starts to
// its width, or on to the next blank when its value ran over.
#include <optional>
#include <string>
#include <string_view>

namespace quelvar::report {

enum class LineKind {
    mergedText,  // new/CDR_*.txt: the merged record of a call (a plain record in the plain mode)
    mergedCsv,   // new/CDR_*.csv: the same with Chinese labels for type and route
    legText,     // old/CDR_*.txt: each record line as it came
};

// One record line, its values in UTF-8 as filed (a missing required field
// shows as "?"). Type and route of a CSV line are its labels.
struct FiledLine {
    bool plainLayout = false;  // a leg line laid out by the plain mode's writer
    std::string rid;           // the RID as filed, its padding zeros taken off
    std::string account, caller, callee, count, category, type, route;
    std::string start, end, duration, trunk;  // TIME-S and TIME-E as YYMMDDhhmmss, DURATION in seconds
};

enum class LineRead { record, header, blank, unparsable };

// Reads one line (without its line end) of a file of that kind. `lineNumber`
// counts from 1: a header is only where the writer puts it, at the top.
LineRead readRecordLine(LineKind kind, std::string_view bytes, long lineNumber, FiledLine& line);

// GBK bytes as UTF-8; ASCII passes unchanged.
std::string utf8FromGbk(std::string_view bytes);
void assignUtf8FromGbk(std::string& out, std::string_view bytes);
std::string utf8FromWide(std::wstring_view text);

// YYMMDDhhmmss as YYYY-MM-DDThh:mm:ss; nothing when it is no such time.
std::optional<std::string> isoTime(std::string_view time);

// A RID's parts: the call's key (before its first '-') and the leg (after it).
std::string_view callKeyOf(std::string_view rid);
std::string_view legOf(std::string_view rid);

// The CSV's label for a type as the text file has it.
std::string_view typeLabel(std::string_view type);
std::string_view routeLabelOf(std::string_view route);

}  // namespace quelvar::report
