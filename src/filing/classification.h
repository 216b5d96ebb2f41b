#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/event_log.h"
#include "platform/files.h"

namespace quelvar {

// Works out each record's teletype (call category): 内线, 市话, 国内长途,
// 国际长途 or 特服电话. It owns the teletype of the record classified last,
// which a record that no rule classifies takes over.
class Classifier {
public:
    // `specialNumberFile` is tele.ini, read again at a lookup whenever it has
    // changed, so that an edit counts from the next record on. `log`, when
    // given, is told of a list larger than a configuration file may be.
    Classifier(std::wstring areaCode, std::string specialNumberFile, const EventLog* log = nullptr)
        : areaCode_(std::move(areaCode)), specialNumberFile_(std::move(specialNumberFile)), log_(log) {}

    // Reads the list now, if it changed since it was read last: at start, so
    // that what is wrong with it is told at once.
    void readSpecialNumbers() const;

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
    // The list as read last: its bytes, its text, and its entries sorted,
    // pointing into the text. A copy reads the file anew.
    struct SpecialNumbers {
        SpecialNumbers() = default;
        SpecialNumbers(const SpecialNumbers&) {}
        SpecialNumbers& operator=(const SpecialNumbers&);

        // Absent: read again at the next lookup.
        std::optional<platform::FileVersion> version;
        // The version whose size was told of.
        std::optional<platform::FileVersion> told;
        // Whether the entries are the bytes'.
        bool taken = false;
        std::string bytes;
        std::string text;
        std::vector<std::string_view> numbers;
        std::vector<std::string_view> prefixes;
        std::size_t longestPrefix = 0;
    };

    void takeSpecialNumbers(std::string& contents) const;

    std::wstring areaCode_;
    std::string specialNumberFile_;
    const EventLog* log_ = nullptr;
    mutable SpecialNumbers list_;
    // Room for the next read, kept between reads.
    mutable std::string reading_;
    std::wstring_view lastTeletype_;
};

// The labels of the CSV files.
std::wstring_view callTypeLabel(std::wstring_view type);
std::wstring_view routeLabel(std::wstring_view route);

}  // namespace quelvar
