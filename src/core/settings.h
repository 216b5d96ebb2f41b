#pragma once
#include <string>
#include <vector>

#include "core/address_range.h"
#include "platform/status.h"

namespace quelvar {

// What Quelvar.ini says, with the program's folder. Start-up reads them
// once and hands them to whoever needs them; afterwards they are only read.
struct Settings {
    int encryptMode = 1;
    std::wstring areaCode;
    std::wstring typeFilter;
    // Empty means records go under <programDir>/rec.
    std::wstring dataRoot;
    // Whether each batch of records is on the disk before it is answered
    // (SYNC=0 turns it off).
    bool sync = true;
    // The senders that may send; empty: everyone, unless ALLOW lines were
    // given (see noValidSender).
    std::vector<AddressRange> allow;
    bool allowGiven = false;
    // The switches (MACs) that may get a folder of their own; without a
    // SWITCHES line (`switchesListed` false) every switch may.
    std::vector<std::wstring> switches;
    bool switchesListed = false;
    // The program's folder, and the same in the 8-bit code page of file names.
    std::wstring programDir;
    std::string programDirAnsi;
};

// A line of the configuration file that the grammar ignores or that looks
// like a mistake, and what was taken; line 0 is about the whole file.
struct SettingsWarning {
    int line = 0;
    std::wstring text;
};

// The most of a configuration file (Quelvar.ini, tele.ini) that is read; a
// larger file is no configuration anyone wrote by hand.
inline constexpr std::size_t configurationFileLimit = std::size_t{1} << 20;

// The configuration file's text: at most its first MiB, up to the last line
// end in it. notFound when there is none; a file that cannot be read or is
// cut short is told in `warnings`.
[[nodiscard]] Status readSettingsFile(const std::string& path, std::string& contents,
                                      std::vector<SettingsWarning>* warnings);

// Reads the configuration file at `path` into `target`. A missing file
// leaves every setting as it was. Each PATH line also makes the data root and
// lays today's empty record file into every folder under it. What looks
// wrong is told in `warnings`.
void loadSettings(const std::string& path, Settings& target, std::vector<SettingsWarning>* warnings = nullptr);

// The grammar over a configuration text already read; `prepareFolders`
// runs for every PATH line.
void applySettingsText(const std::string& contents, Settings& target, void (*prepareFolders)(Settings&),
                       std::vector<SettingsWarning>* warnings = nullptr);

// Whether ALLOW lines were given and none of their entries is a valid
// address or network: then the collector does not start, rather than take
// the empty list for everyone. `why` says so for the operator.
bool noValidSender(const Settings& settings, std::wstring* why = nullptr);

// The PATH folder procedure: the data root made, or emptied when it cannot
// be, and today's empty record file in every folder under it (none through
// a link, see keepDataRoots).
void prepareDataRoot(Settings& target);

// Names the data root and the program's rec to the file functions, below
// which nothing is reached through a link (platform::setDataRoots).
void keepDataRoots(const Settings& settings);

}  // namespace quelvar
