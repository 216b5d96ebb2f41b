#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

namespace quelvar {

// The undo file as a start finds it (its lines: filing_batch.cpp). It is
// read up to its first 16 MiB, a few hundred KiB at a time: a batch notes
// each file it writes once (a few per switch) and keeps a short line per
// datagram (at most 256), so a larger file was not written by the
// collector, and what lies beyond the limit is not read.
inline constexpr std::uint64_t undoReadLimit = std::uint64_t{16} << 20;

struct UndoReading {
    // The number of the batch last committed, or of the unfinished batch
    // when the file holds nothing else.
    std::uint64_t batch = 0;
    // The bytes from the start that stay: the lines of the batch last
    // committed, when the file begins with them.
    std::uint64_t kept = 0;
    // That batch's datagrams: each one's repeat key and answer.
    std::vector<std::pair<std::string, std::string>> filed;
    // The file goes on past the limit.
    bool cutShort = false;
};

// Reads the undo file through its handle; each file the unfinished batch
// may have lengthened goes to `unfinished` with its size before, in the
// order noted.
[[nodiscard]] Status readUndoFile(platform::LockedFile& undo, UndoReading& reading,
                                  const std::function<void(const std::string& path, std::uint64_t size)>& unfinished);

// Whether a path is one the record writers append to below one of the
// record bases (the data root, the program's rec): <base>[/err]/<switch>/
// new|old/CDR_<date>.txt|.csv. Nothing else is ever cut at a start.
bool isRecordFileBelow(const std::string& path, const std::vector<std::string>& recordBases);

}  // namespace quelvar
