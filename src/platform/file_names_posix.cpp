#include "platform/file_names.h"

namespace quelvar::platform {

// Every byte but the separator and NUL, which a datagram's text never
// carries, is a name's own here.
bool refusedInName(wchar_t) { return false; }

bool refusedAtEnd(wchar_t) { return false; }

bool reservedName(std::wstring_view) { return false; }

}  // namespace quelvar::platform
