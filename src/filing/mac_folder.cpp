#include "filing/mac_folder.h"

#include "platform/files.h"

namespace quelvar {

namespace {

template <class Text>
wchar_t character(typename Text::value_type c) {
    if constexpr (sizeof c == 1) return static_cast<wchar_t>(static_cast<unsigned char>(c));
    else return c;
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
        reserved = platform::reservedName(folder);
    } else {
        std::wstring wide;
        for (const auto c : folder) wide += character<Text>(c);
        reserved = platform::reservedName(wide);
    }
    if (reserved) folder += '-';
    return folder;
}

}  // namespace

std::wstring macFolderOf(const std::wstring& mac) { return folderOf(mac); }

std::string macFolderOf(const std::string& mac) { return folderOf(mac); }

}  // namespace quelvar
