#include "store/mac_folder.h"

namespace quelvar {

namespace {

template <class Text>
Text folderOf(const Text& mac) {
    Text folder = mac.substr(0, 17);
    for (auto& c : folder)
        if (c == ':' || c == '/' || c == '\\') c = '-';
    if (folder.size() <= 2 && folder.find_first_not_of('.') == Text::npos && !folder.empty())
        folder.assign(folder.size(), '-');
    return folder;
}

}  // namespace

std::wstring macFolderOf(const std::wstring& mac) { return folderOf(mac); }

std::string macFolderOf(const std::string& mac) { return folderOf(mac); }

}  // namespace quelvar
