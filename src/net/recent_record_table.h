#pragma once

namespace quelvar {

// Sets every entry of the table of recently seen records free.
void clearRecentRecords();

}  // namespace quelvar
