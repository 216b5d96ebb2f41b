#pragma once
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "core/time.h"
#include "log/network_log.h"
#include "platform/status.h"

namespace quelvar {

// Who may give a new switch its folder under the data root. Every line of a
// datagram may name a switch, and each new one costs a folder, "old" or
// "new" and files; a real site adds a switch a year. So a sender gets a few
// new switch folders an hour, all senders together a few more, and where
// Quelvar.ini lists its switches (SWITCHES=) no other switch gets one at
// all. A record refused a folder is not filed, and so never acknowledged.
// The writers ask it when a switch's folder is missing; the sender is the
// one the network log names for the datagram in hand.
class SwitchFolders {
public:
    static constexpr std::size_t perSenderPerHour = 5;
    static constexpr std::size_t allSendersPerHour = 30;
    static constexpr TimeValue hour = 3600;
    // Senders told apart in one hour; those beyond share one count.
    static constexpr std::size_t sendersPerHour = 1024;

    SwitchFolders(const Settings& settings, const NetworkLog& lines);

    // Whether the folder `folderName` (a switch's, as macFolderOf names it)
    // may be made now so that `file` can be written; one granted counts.
    // The refusal names the file and says why.
    Status mayMake(std::wstring_view folderName, const std::string& file);

private:
    struct Window {
        TimeValue start = 0;
        std::size_t made = 0;
    };
    static bool roomIn(Window& window, TimeValue now, std::size_t most);

    const NetworkLog& lines_;
    bool listed_ = false;
    // The listed switches' folder names, in lower case.
    std::set<std::wstring> switches_;
    std::map<std::string, Window, std::less<>> senders_;
    Window all_;
};

// A folder name in lower case, as names are compared where letter case
// does not tell switches apart.
std::wstring lowerCaseFolder(std::wstring_view name);

}  // namespace quelvar
