#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// Works out each record's teletype (call category): 内线, 市话, 国内长途,
// 国际长途 or 特服电话. It owns the teletype of the record classified last,
// which a record that no rule classifies takes over.
class Classifier {
public:
    // `specialNumberFile` is tele.ini, read afresh for every lookup so that
    // edits count at once.
    Classifier(std::wstring areaCode, std::string specialNumberFile)
        : areaCode_(std::move(areaCode)), specialNumberFile_(std::move(specialNumberFile)) {}

    // True when an entry of the special-number file matches: an exact number,
    // or a pattern whose text before its first 'x' is a prefix of the number.
    bool isSpecialNumber(std::string_view number) const;

    // 国际长途, 国内长途, 市话 or 特服电话 for a dialled or calling number.
    std::wstring_view classifyNumber(std::wstring_view number) const;

    // The teletype of a record from its route, type and numbers.
    std::wstring_view classifyTeletype(std::wstring_view route, std::wstring_view type,
                                       std::wstring_view callingNumber, std::wstring_view calledNumber);

    std::wstring_view lastTeletype() const { return lastTeletype_; }

private:
    std::wstring areaCode_;
    std::string specialNumberFile_;
    std::wstring_view lastTeletype_;
};

// The labels of the CSV files.
std::wstring_view callTypeLabel(std::wstring_view type);
std::wstring_view routeLabel(std::wstring_view route);

}  // namespace quelvar
