#include "filing/mac_folder.h"

#include "filing/filing_batch.h"
#include "platform/files.h"

namespace quelvar {

namespace {

template <class Text>
wchar_t character(typename Text::value_type c) {
    if constexpr (sizeof c == 1) return static_cast<wchar_t>(static_cast<unsigned char>(c));
    else return c;
}

bool sameLetters(std::wstring_view name, std::wstring_view own) {
    if (name.size() != own.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i] >= L'A' && name[i] <= L'Z' ? static_cast<wchar_t>(name[i] - L'A' + L'a') : name[i];
        if (c != own[i]) return false;
    }
    return true;
}

bool takeDigits(std::wstring_view& name, std::size_t count) {
    std::size_t taken = 0;
    while (taken < name.size() && (count == 0 || taken < count) && name[taken] >= L'0' && name[taken] <= L'9') ++taken;
    if (taken == 0 || (count != 0 && taken != count)) return false;
    name.remove_prefix(taken);
    return true;
}

bool takeText(std::wstring_view& name, std::wstring_view text) {
    if (name.size() < text.size() || !sameLetters(name.substr(0, text.size()), text)) return false;
    name.remove_prefix(text.size());
    return true;
}

// The names the collector gives files of its own in the record base, where
// the workbook lies by default: the workbook, its rollback journal, its
// queue (excel_sheet_writer.cpp), an office suite's lock file of it and the
// new workbook before it is renamed into place (platform/files.h), the
// err tree, and the undo file, which lies there when the record base is the
// program's folder.
bool collectorsOwnName(std::wstring_view name) {
    if (sameLetters(name, L"err")) return true;
    if (sameLetters(name, std::wstring(undoFileName, undoFileName + std::char_traits<char>::length(undoFileName))))
        return true;
    const bool lock = takeText(name, L".~lock.");
    const bool beforeRename = !lock && takeText(name, L".");
    if (!takeDigits(name, 6) || !takeText(name, L".xls")) return false;
    if (lock) return sameLetters(name, L"#");
    if (beforeRename) return takeText(name, L".") && takeDigits(name, 0) && sameLetters(name, L".new");
    return name.empty() || sameLetters(name, L"-journal") || sameLetters(name, L".queue");
}

template <class Text>
Text folderOf(const Text& mac) {
    Text folder = mac.substr(0, 17);
    for (auto& c : folder)
        if (c == ':' || c == '/' || c == '\\' || platform::refusedInName(character<Text>(c))) c = '-';
    if (folder.size() <= 2 && folder.find_first_not_of('.') == Text::npos && !folder.empty())
        folder.assign(folder.size(), '-');
    for (auto end = folder.rbegin(); end != folder.rend() && platform::refusedAtEnd(character<Text>(*end)); ++end)
        *end = '-';
    bool reserved = false;
    if constexpr (sizeof(typename Text::value_type) == sizeof(wchar_t)) {
        reserved = platform::reservedName(folder) || collectorsOwnName(folder);
    } else {
        std::wstring wide;
        for (const auto c : folder) wide += character<Text>(c);
        reserved = platform::reservedName(wide) || collectorsOwnName(wide);
    }
    if (reserved) folder += '-';
    return folder;
}

}  // namespace

std::wstring macFolderOf(const std::wstring& mac) { return folderOf(mac); }

std::string macFolderOf(const std::string& mac) { return folderOf(mac); }

}  // namespace quelvar
