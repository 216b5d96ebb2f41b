// A workbook file as it may lie on disk: the compound document, the BIFF8
// records, and for what reads, the same values again after writing it out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "xls/biff.h"
#include "xls/compound_file.h"
#include "xls/workbook_file.h"

namespace {

bool sameValues(const quelvar::xls::Workbook& a, const quelvar::xls::Workbook& b) {
    if (a.sheets.size() != b.sheets.size()) return false;
    for (std::size_t s = 0; s < a.sheets.size(); ++s) {
        const quelvar::xls::Sheet& x = a.sheets[s];
        const quelvar::xls::Sheet& y = b.sheets[s];
        if (x.name != y.name || x.visibility != y.visibility || x.cells.size() != y.cells.size()) return false;
        for (std::size_t c = 0; c < x.cells.size(); ++c) {
            const quelvar::xls::Cell& p = x.cells[c];
            const quelvar::xls::Cell& q = y.cells[c];
            if (p.row != q.row || p.column != q.column || p.kind != q.kind) return false;
            if (p.kind == quelvar::xls::CellKind::text ? a.strings[p.text] != b.strings[q.text]
                                                  : std::memcmp(&p.value, &q.value, sizeof p.value) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quelvar::xls;
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    std::string storage;
    std::string_view stream;
    if (readCompoundStream(file, u"Workbook", storage, stream) != CompoundReadResult::ok) {
        // The records alone, as if the container had held them.
        stream = file;
    }
    Workbook workbook;
    std::string why;
    if (readBiffWorkbook(stream, workbook, why) != BiffReadResult::ok) return 0;
    const WorkbookFile written = writeWorkbookFile(workbook);
    Workbook reread;
    if (readWorkbookFile(written.head + written.stream + written.tail, reread, why) != FileReadResult::ok ||
        !sameValues(workbook, reread))
        __builtin_trap();
    return 0;
}
