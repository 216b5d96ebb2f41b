#pragma once
#include <string>
#include <string_view>

namespace quelvar::platform {

// Reads the whole file. False when it cannot be opened or read.
bool readFile(const std::string& path, std::string& contents);

// Opens the file for appending (creating it when missing), writes the bytes
// and closes it again. False when any of these steps fails.
bool appendToFile(const std::string& path, std::string_view bytes);

enum class WriteResult {
    ok,
    folderMissing,  // a folder of the path does not exist; nothing was written
    failed,         // lastErrorText() says why
};

// Appends to the file like appendToFile, putting `header` first when the
// file is empty at that moment. Header and bytes go out in one write.
WriteResult appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes);

// Creates a file that must not exist yet, writes the bytes and closes it. A
// file that cannot be written whole is removed again, so no half file stays.
bool createNewFile(const std::string& path, std::string_view bytes);

}  // namespace quelvar::platform
