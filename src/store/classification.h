#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// The teletype of the record classified last. A record that no rule
// classifies is written with the teletype of the record before it.
extern std::wstring lastTeletype;

// True when an entry of <programDir>/tele.ini matches: an exact number, or a
// pattern whose text before its first 'x' is a prefix of the number. The
// file is read afresh for every lookup, so edits count at once.
bool isSpecialNumber(std::string_view number);

// 国际长途, 国内长途, 市话 or 特服电话 for a dialled or calling number.
std::wstring classifyNumber(std::wstring_view number);

// Sets lastTeletype from a record's route, type and numbers.
void classifyTeletype(std::wstring_view route, std::wstring_view type, std::wstring_view callingNumber,
                      std::wstring_view calledNumber);

// The labels of the CSV files.
std::wstring callTypeLabel(std::wstring_view type);
std::wstring routeLabel(std::wstring_view route);

// <programDir>/tele.ini
std::string specialNumberFilePath();

}  // namespace quelvar
