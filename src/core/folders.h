#pragma once
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quelvar {

// The executable's folder, without a trailing separator; empty text when the
// executable's path cannot be fetched.
std::wstring getProgramDir();

// The path of an entry of a folder, joined with the platform's separator.
std::wstring pathIn(const std::wstring& folder, std::wstring_view name);
std::string pathIn(const std::string& folder, std::string_view name);

// Creates one folder (8-bit path) when nothing of that name exists; its
// parent must exist. Failures are not reported.
void ensureFolder(const std::string& path);

// Makes every folder along the path exist. Fails with Status::Code::exists
// when a name on the way exists but is no folder.
Status ensureFolderPath(const std::wstring& path);

}  // namespace quelvar
