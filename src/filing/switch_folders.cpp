#include "filing/switch_folders.h"

#include "filing/mac_folder.h"

namespace quelvar {

namespace {

const std::string otherSenders = "other senders";

}  // namespace

std::wstring lowerCaseFolder(std::wstring_view name) {
    std::wstring lower(name);
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return lower;
}

SwitchFolders::SwitchFolders(const Settings& settings, const NetworkLog& lines)
    : lines_(lines), listed_(settings.switchesListed) {
    for (const std::wstring& mac : settings.switches) switches_.insert(lowerCaseFolder(macFolderOf(mac)));
}

bool SwitchFolders::roomIn(Window& window, TimeValue now, std::size_t most) {
    if (now - window.start >= hour || now < window.start) window = Window{now, 0};
    return window.made < most;
}

Status SwitchFolders::mayMake(std::wstring_view folderName, const std::string& file) {
    if (listed_ && !switches_.contains(lowerCaseFolder(folderName)))
        return Status::error(Status::Code::failed, "make a switch folder for", file,
                             "the switch is not in SWITCHES of Quelvar.ini");
    const TimeValue now = lines_.now();
    auto sender = senders_.find(lines_.address());
    if (sender == senders_.end()) {
        // Forget the senders whose hour is over before counting a new one.
        std::erase_if(senders_,
                      [&](const auto& each) { return now - each.second.start >= hour || now < each.second.start; });
        const std::string& kept = senders_.size() < sendersPerHour ? lines_.address() : otherSenders;
        sender = senders_.try_emplace(kept, Window{now, 0}).first;
    }
    if (!roomIn(sender->second, now, perSenderPerHour))
        return Status::error(Status::Code::failed, "make a switch folder for", file,
                             "too many new switches from this sender this hour");
    if (!roomIn(all_, now, allSendersPerHour))
        return Status::error(Status::Code::failed, "make a switch folder for", file,
                             "too many new switches from all senders this hour");
    ++sender->second.made;
    ++all_.made;
    return {};
}

}  // namespace quelvar
