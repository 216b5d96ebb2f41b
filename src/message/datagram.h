#pragma once
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

// A datagram is a record when its text begins with "RECORD:" in any case.
bool isRecordDatagram(std::wstring_view text);

// Decodes a record datagram's text into `datagram`, whose storage is reused.
void decodeDatagram(std::wstring_view text, Datagram& datagram);

}  // namespace quelvar
