#include "core/settings.h"

#include <vector>

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "core/time.h"
#include "platform/files.h"

namespace quelvar {

namespace {

// One read of the configuration file holds at most this many bytes.
constexpr std::size_t linePieceBytes = 259;

// The file as a text-mode reader sees it: CR LF is one line feed, and a line
// longer than a read is handled as several lines.
std::vector<std::string> readPieces(const std::string& contents) {
    std::string text;
    text.reserve(contents.size());
    for (std::size_t index = 0; index < contents.size(); ++index) {
        if (contents[index] == '\r' && index + 1 < contents.size() && contents[index + 1] == '\n') continue;
        text.push_back(contents[index]);
    }
    std::vector<std::string> pieces;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t length = std::min(linePieceBytes, text.size() - position);
        const std::size_t feed = text.find('\n', position);
        if (feed != std::string::npos && feed < position + length) length = feed - position + 1;
        std::string piece = text.substr(position, length);
        // The line is a C string: a zero byte ends it.
        piece.resize(piece.find('\0') == std::string::npos ? piece.size() : piece.find('\0'));
        pieces.push_back(std::move(piece));
        position += length;
    }
    return pieces;
}

void replaceAll(std::wstring& line, std::wstring_view from, std::wstring_view to) {
    for (std::size_t found = line.find(from); found != std::wstring::npos; found = line.find(from))
        line.replace(found, from.size(), to);
}

std::wstring valueFrom(const std::wstring& line, std::size_t start) {
    return line.size() > start ? line.substr(start) : std::wstring();
}

// Lays today's empty record file into every folder under the data root, so
// that each switch's folder shows the day even before its first call.
void prepareDataRoot(Settings& target) {
    if (const Status made = ensureFolderPath(target.dataRoot); !made.ok() && !made.is(Status::Code::exists))
        target.dataRoot.clear();
    const CalendarTime today = currentLocalTime();
    const std::string root = target.dataRoot.empty() ? pathIn(target.programDirAnsi, "rec") : toAnsi(target.dataRoot);
    std::vector<std::string> names;
    if (!platform::listFolder(root, names).ok()) return;
    for (const std::string& name : names) {
        const std::string folder = pathIn(root, name);
        if (!platform::isFolder(folder)) continue;
        const std::string file =
            pathIn(folder, formatBytes("CDR_%4d_%02d_%02d.txt", today.year, today.month, today.day));
        if (!platform::pathExists(file)) static_cast<void>(platform::createNewFile(file, {}));
    }
}

void applyLine(const std::string& piece, Settings& target, void (*prepareFolders)(Settings&)) {
    std::wstring line = fromAnsi(piece);
    const std::size_t first = line.find_first_not_of(L" \t\n\r\v\f");
    line.erase(0, first == std::wstring::npos ? line.size() : first);
    replaceAll(line, L" =", L"=");
    replaceAll(line, L"= ", L"=");

    if (line.starts_with(L"TYPE")) {
        target.typeFilter = valueFrom(line, 5);
    } else if (line.starts_with(L"PATH")) {
        target.dataRoot = valueFrom(line, 5);
        if (!target.dataRoot.empty() && target.dataRoot.back() == L'\n') target.dataRoot.pop_back();
        prepareFolders(target);
    } else if (line.starts_with(L"ENCRYPT")) {
        if (line.size() > 8 && line[8] == L'0') target.encryptMode = 0;
    } else if (line.starts_with(L"AREACODE")) {
        std::wstring code = line.size() > 9 ? line.substr(9, 8) : std::wstring();
        if (!code.empty() && code.back() == L'\n') code.pop_back();
        target.areaCode = code;
    }
}

}  // namespace

void applySettingsText(const std::string& contents, Settings& target, void (*prepareFolders)(Settings&)) {
    for (const std::string& piece : readPieces(contents)) applyLine(piece, target, prepareFolders);
}

void loadSettings(const std::string& path, Settings& target) {
    std::string contents;
    if (!platform::readFile(path, contents).ok()) return;
    applySettingsText(contents, target, prepareDataRoot);
}

}  // namespace quelvar
