#pragma once
#include <string>

namespace quelvar {

// What Quelvar.ini says, with the program's folder. Start-up reads them
// once and hands them to whoever needs them; afterwards they are only read.
struct Settings {
    int encryptMode = 1;
    std::wstring areaCode;
    std::wstring typeFilter;
    // Empty means records go under <programDir>/rec.
    std::wstring dataRoot;
    // The program's folder, and the same in the 8-bit code page of file names.
    std::wstring programDir;
    std::string programDirAnsi;
};

// Reads the configuration file at `path` into `target`. A missing file
// leaves every setting as it was. Each PATH line also makes the data root and
// lays today's empty record file into every folder under it.
void loadSettings(const std::string& path, Settings& target);

// The grammar over a configuration text already read; `prepareFolders`
// runs for every PATH line.
void applySettingsText(const std::string& contents, Settings& target, void (*prepareFolders)(Settings&));

}  // namespace quelvar
