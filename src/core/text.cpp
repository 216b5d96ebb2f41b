#include "core/text.h"

#include "platform/codepage.h"

namespace quelvar {

std::string toGbk(std::wstring_view text) { return platform::wideToGbk(text); }

std::wstring fromGbk(std::string_view bytes) { return platform::gbkToWide(bytes); }

// The OEM and the ANSI code page are one and the same here, so the cut to
// the length of the ANSI form never takes anything away.
std::string toOemText(std::wstring_view text) { return platform::wideToAnsi(text); }

std::string toAnsi(std::wstring_view text) { return platform::wideToAnsi(text); }

std::wstring fromAnsi(std::string_view bytes) { return platform::ansiToWide(bytes); }

}  // namespace quelvar
