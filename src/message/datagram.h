#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

#include "message/record.h"

namespace quelvar {

// One line of a datagram's text: the text as it came and its record.
struct DatagramLine {
    std::wstring_view text;
    Record record;
};

// The text of one datagram of the encrypted mode, decoded once. It views the
// text, which must outlive it.
struct Datagram {
    // The RID of the whole text read as one record, line feeds and all: the
    // call's key against repeats. When the lines begin "RECORD:RID=" that is
    // the first line's RID, since each later line's first key takes in the
    // line feed and the head before it.
    std::wstring_view rid;
    // The lines, split at line feeds. An empty line has an empty record.
    std::vector<DatagramLine> lines;
};

// A switch sends a call's legs in one datagram, a handful of lines. One of
// more lines than this is refused whole, in both modes: thousands of lines
// would cost the log and the disk thousands of records' share.
inline constexpr std::size_t mostDatagramLines = 64;

// Whether a text has more than `limit` lines, split at line feeds; a line
// feed at its very end closes its last line rather than opening another.
bool hasMoreLinesThan(std::wstring_view text, std::size_t limit);
bool hasMoreLinesThan(std::string_view text, std::size_t limit);

// A datagram is a record when its text begins with "RECORD:" in any case.
bool isRecordDatagram(std::wstring_view text);

// Decodes a record datagram's text into `datagram`, whose storage is reused.
void decodeDatagram(std::wstring_view text, Datagram& datagram);

}  // namespace quelvar
