#pragma once
#include <string>
#include <vector>

namespace quelvar::platform {

enum class FolderResult {
    ok,             // the folder exists now
    alreadyExists,  // a name on the way exists, but not as a folder
    failed,         // any other reason; lastErrorText() says which
};

// Creates one folder whose parent must exist. A name that exists already is
// left alone; the result says only whether a folder is there afterwards.
bool makeFolder(const std::string& path);

// Makes every folder along the path exist, from the root downwards.
FolderResult makeFolderChain(const std::string& path);

bool pathExists(const std::string& path);
bool isFolder(const std::string& path);

// Names of the entries in a folder, without "." and "..". False when the
// folder cannot be listed.
bool listFolder(const std::string& path, std::vector<std::string>& names);

}  // namespace quelvar::platform
