#pragma once
#include <cstdint>

namespace quelvar::xls::biff {

// Record identifiers of the workbook stream.
constexpr std::uint16_t formula = 0x0006;
constexpr std::uint16_t endOfFile = 0x000A;
constexpr std::uint16_t filePass = 0x002F;
constexpr std::uint16_t continued = 0x003C;
constexpr std::uint16_t window1 = 0x003D;
constexpr std::uint16_t codePage = 0x0042;
constexpr std::uint16_t defaultColumnWidth = 0x0055;
constexpr std::uint16_t sheetOptions = 0x0081;  // WSBOOL
constexpr std::uint16_t boundSheet = 0x0085;
constexpr std::uint16_t font = 0x0031;
constexpr std::uint16_t multipleRk = 0x00BD;
constexpr std::uint16_t richText = 0x00D6;  // RSTRING
constexpr std::uint16_t extendedFormat = 0x00E0;
constexpr std::uint16_t sharedStrings = 0x00FC;
constexpr std::uint16_t sharedStringCell = 0x00FD;   // LABELSST
constexpr std::uint16_t sharedStringIndex = 0x00FF;  // EXTSST
constexpr std::uint16_t dimensions = 0x0200;
constexpr std::uint16_t number = 0x0203;
constexpr std::uint16_t label = 0x0204;
constexpr std::uint16_t boolOrError = 0x0205;
constexpr std::uint16_t formulaString = 0x0207;
constexpr std::uint16_t row = 0x0208;
constexpr std::uint16_t window2 = 0x023E;
constexpr std::uint16_t rk = 0x027E;
constexpr std::uint16_t style = 0x0293;
constexpr std::uint16_t beginOfFile = 0x0809;

constexpr std::uint16_t biff8 = 0x0600;
constexpr std::uint16_t globalsSubstream = 0x0005;
constexpr std::uint16_t worksheetSubstream = 0x0010;

// A record's body holds at most this many bytes; more goes into CONTINUE records.
constexpr std::size_t maxBody = 8224;

}  // namespace quelvar::xls::biff
