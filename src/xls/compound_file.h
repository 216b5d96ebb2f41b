#pragma once
#include <string>
#include <string_view>

namespace quelvar::xls {

// The container of an Excel 97-2003 file: a compound document (a small file
// system in one file) whose stream "Workbook" holds the workbook's records.

enum class CompoundReadResult {
    ok,
    notCompoundFile,  // no compound document signature
    damaged,          // cut short, or its tables point outside the file or in circles
    streamMissing,    // the root storage holds no stream of that name
};

// Reads a stream of the root storage, its name compared without regard to
// case. Never reads outside `file`, whatever it holds. `stream` views the
// stream inside `file` where it lies there in one piece (as in the files
// written here), and otherwise a copy put together in `storage`.
CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& storage,
                                      std::string_view& stream);

// The same, always into a copy.
CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& stream);

// A compound document with one stream in its root storage comes as the
// bytes before the stream and those after it. A stream shorter than 4,096
// bytes is padded with zero bytes to that size, so that it never needs the
// container's mini stream; a workbook's readers stop at its last
// end-of-file record.
struct CompoundFrame {
    std::string head;
    std::string tail;
};
CompoundFrame compoundFrame(std::u16string_view name, std::size_t streamSize);

// The whole file at once.
std::string writeCompoundFile(std::u16string_view name, std::string_view stream);

}  // namespace quelvar::xls
