#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

namespace quelvar {

// The undo file as a start finds it (its lines: filing_batch.cpp). It is
// read up to its first 16 MiB, a few hundred KiB at a time: the entries of
// the largest datagram (64 lines and the merged call, at most two files
// each, 130 entries of at most 8 KiB with paths of 4096 bytes) take about
// 1 MiB, so a larger file was not written by the collector, and what lies
// beyond the limit is not read.
inline constexpr std::uint64_t undoReadLimit = std::uint64_t{16} << 20;

struct UndoReading {
    // The number of the datagram the file speaks of.
    std::uint64_t datagram = 0;
    // The bytes from the start that stay: the line of the datagram last
    // filed whole, when the file begins with it.
    std::uint64_t kept = 0;
    bool filedBefore = false;
    std::string key;
    std::string answer;
    // The file goes on past the limit.
    bool cutShort = false;
};

// Reads the undo file through its handle; each file the unfinished datagram
// lengthened goes to `unfinished` with its size before, in the order noted.
[[nodiscard]] Status readUndoFile(platform::LockedFile& undo, UndoReading& reading,
                                  const std::function<void(const std::string& path, std::uint64_t size)>& unfinished);

// Whether a path is one the record writers append to below one of the
// record bases (the data root, the program's rec): <base>[/err]/<switch>/
// new|old/CDR_<date>.txt|.csv. Nothing else is ever cut at a start.
bool isRecordFileBelow(const std::string& path, const std::vector<std::string>& recordBases);

}  // namespace quelvar
