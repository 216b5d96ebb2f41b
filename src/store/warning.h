#pragma once
#include <string_view>

namespace quelvar {

// Tells the operator: there is no desktop, so the warning goes to standard
// error and, as "WARNING   <caption>: <text>", to the event log.
void showWarning(std::wstring_view caption, std::wstring_view text);

}  // namespace quelvar
