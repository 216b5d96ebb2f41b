#pragma once
// The category a call is billed in. The collector files each record with a
// teletype; a record that none of its rules classifies (TYPE FW, FI, and any
// type but IN, OU and LO on a route other than IC) is filed with the
// teletype of the record filed before it, which says nothing of the call
// itself. Such a call is billed by its own number, classified by the
// collector's own code with the collector's area code and special numbers.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quelvar {
class Classifier;
}

namespace quelvar::report {

class CallCategories {
public:
    // No area code and no special numbers.
    CallCategories();
    // `specialNumberFile` is tele.ini.
    CallCategories(std::wstring areaCode, std::string specialNumberFile);
    // As the collector in `programFolder` classifies: the area code of its
    // Quelvar.ini, its tele.ini.
    static CallCategories ofProgramFolder(const std::string& programFolder);
    // What ofProgramFolder classifies with, as bytes: the area code of
    // Quelvar.ini and tele.ini as they are. Kept costs made under other
    // bytes are not used.
    static std::string sourceOf(const std::string& programFolder);

    // Whether the collector's rules give a record of this route and type a
    // teletype of its own; false when it carries the previous record's.
    static bool filedByRule(std::string_view route, std::string_view type);
    // The number a carried record is classified by: the calling number of a
    // call forwarded in (as an incoming call is), else the called number.
    static const std::string& numberClassified(std::string_view type, const std::string& caller,
                                               const std::string& callee);

    struct Decision {
        std::string category;     // the one billed
        bool fromNumber = false;  // not as filed: from `number`
        std::string number;       // the number it was classified by, when fromNumber
    };
    Decision decide(std::string_view route, std::string_view type, const std::string& caller,
                    const std::string& callee, const std::string& filed) const;
    // The collector's category for a number (as filed: UTF-8).
    const std::string& ofNumber(const std::string& number) const;

private:
    std::shared_ptr<Classifier> classifier_;
    // Numbers come back often (the same mobile, the same office): each is
    // classified once.
    std::shared_ptr<std::unordered_map<std::string, std::string>> known_;
};

}  // namespace quelvar::report
