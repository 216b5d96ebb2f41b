#include "xls/workbook_file.h"

#include "xls/biff.h"
#include "xls/compound_file.h"

namespace quelvar::xls {

FileReadResult readWorkbookFile(std::string_view file, Workbook& workbook, std::string& why) {
    workbook = {};
    why.clear();
    std::string storage;
    std::string_view stream;
    switch (readCompoundStream(file, u"Workbook", storage, stream)) {
        case CompoundReadResult::notCompoundFile: return FileReadResult::notCompoundFile;
        case CompoundReadResult::damaged: return FileReadResult::damagedContainer;
        case CompoundReadResult::streamMissing:
            return readCompoundStream(file, u"Book", storage) == CompoundReadResult::ok ? FileReadResult::olderVersion
                                                                                         : FileReadResult::noWorkbook;
        case CompoundReadResult::ok: break;
    }
    switch (readBiffWorkbook(stream, workbook, why)) {
        case BiffReadResult::ok: return FileReadResult::ok;
        case BiffReadResult::encrypted: workbook = {}; return FileReadResult::encrypted;
        case BiffReadResult::damaged: break;
    }
    workbook = {};
    return FileReadResult::damagedWorkbook;
}

WorkbookFile writeWorkbookFile(const Workbook& workbook) {
    WorkbookFile file;
    file.stream = writeBiffWorkbook(workbook);
    CompoundFrame frame = compoundFrame(u"Workbook", file.stream.size());
    file.head = std::move(frame.head);
    file.tail = std::move(frame.tail);
    return file;
}

}  // namespace quelvar::xls
