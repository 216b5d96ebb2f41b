#pragma once
#include <string>

namespace quelvar {

// A switch's folder name from its MAC: ':', '/' and '\\' become '-', at
// most 17 characters, and a name of dots only ("." or "..") has its dots
// turned into '-', so that no MAC names a folder outside the record base.
// Where the system refuses further characters, trailing characters or device
// names, those become '-' too, and a device name gets a '-' after it. So
// does a name of the collector's own beside the switches' folders, in any
// letter case: the month's workbook (<YYYY><MM>.xls), the files that lie
// beside it, the tree of incomplete records (err) and the undo file.
std::wstring macFolderOf(const std::wstring& mac);
std::string macFolderOf(const std::string& mac);

}  // namespace quelvar
