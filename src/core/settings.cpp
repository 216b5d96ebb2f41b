#include "core/settings.h"

#include <algorithm>
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

// One piece as the reader takes it, with the line of the file it comes
// from and whether it carries on a line that did not fit one read.
struct Piece {
    std::string text;
    int line = 0;
    bool continued = false;
};

// The file as a text-mode reader sees it: CR LF is one line feed, and a line
// longer than a read is handled as several lines.
std::vector<Piece> readPieces(const std::string& contents) {
    std::string text;
    text.reserve(contents.size());
    for (std::size_t index = 0; index < contents.size(); ++index) {
        if (contents[index] == '\r' && index + 1 < contents.size() && contents[index + 1] == '\n') continue;
        text.push_back(contents[index]);
    }
    std::vector<Piece> pieces;
    std::size_t position = 0;
    int line = 1;
    bool continued = false;
    while (position < text.size()) {
        std::size_t length = std::min(linePieceBytes, text.size() - position);
        const std::size_t feed = text.find('\n', position);
        if (feed != std::string::npos && feed < position + length) length = feed - position + 1;
        std::string piece = text.substr(position, length);
        const bool endsLine = piece.back() == '\n';
        // The line is a C string: a zero byte ends it.
        piece.resize(piece.find('\0') == std::string::npos ? piece.size() : piece.find('\0'));
        pieces.push_back({std::move(piece), line, continued});
        continued = !endsLine;
        if (endsLine) ++line;
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

// What the warnings show of a value: its line feed as the text "\n".
std::wstring shown(std::wstring_view value) {
    std::wstring text;
    for (const wchar_t c : value) {
        if (c == L'\n') text += L"\\n";
        else if (c == L'\r') text += L"\\r";
        else text += c;
    }
    return L"\"" + text + L"\"";
}

bool hasBlankOrComment(std::wstring_view value) {
    return value.find_first_of(L" \t;") != std::wstring_view::npos;
}

bool isDigits(std::wstring_view value) {
    return !value.empty() && value.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

std::wstring withoutLineFeed(std::wstring value) {
    if (!value.empty() && value.back() == L'\n') value.pop_back();
    return value;
}

// Keys compared case-insensitively, to tell a key in the wrong case.
bool sameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t index = 0; index < a.size(); ++index) {
        const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
        if (upper(a[index]) != upper(b[index])) return false;
    }
    return true;
}

constexpr std::wstring_view keys[] = {L"TYPE", L"PATH", L"ENCRYPT", L"AREACODE", L"ALLOW", L"SWITCHES", L"SYNC"};

// Six pairs of hexadecimal digits, each pair apart from the next by '-' or ':'.
bool looksLikeMac(std::wstring_view value) {
    if (value.size() != 17) return false;
    for (std::size_t index = 0; index < value.size(); ++index) {
        const wchar_t c = value[index];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (index % 3 == 2 ? (c != L'-' && c != L':') : !hex) return false;
    }
    return true;
}

class LineReader {
public:
    LineReader(Settings& target, void (*prepareFolders)(Settings&), std::vector<SettingsWarning>* warnings)
        : target_(target), prepareFolders_(prepareFolders), warnings_(warnings) {}

    void apply(const Piece& piece) {
        line_ = piece.line;
        if (piece.continued && piece.line != lastLongLine_) {
            lastLongLine_ = piece.line;
            warn(L"the line is longer than 259 bytes and is read in pieces, each as a line of its own");
        }
        std::wstring line = fromAnsi(piece.text);
        const std::size_t first = line.find_first_not_of(L" \t\n\r\v\f");
        line.erase(0, first == std::wstring::npos ? line.size() : first);
        replaceAll(line, L" =", L"=");
        replaceAll(line, L"= ", L"=");

        if (line.starts_with(L"TYPE")) {
            checkEquals(line, L"TYPE");
            target_.typeFilter = valueFrom(line, 5);
            const std::wstring value = withoutLineFeed(target_.typeFilter);
            if (hasBlankOrComment(value)) warn(L"TYPE has blanks or a comment in its value: taken " + shown(value));
        } else if (line.starts_with(L"PATH")) {
            checkEquals(line, L"PATH");
            target_.dataRoot = withoutLineFeed(valueFrom(line, 5));
            if (!target_.dataRoot.empty() && (target_.dataRoot.back() == L' ' || target_.dataRoot.back() == L'\t'))
                warn(L"PATH ends in blanks, which belong to the folder's name: taken " + shown(target_.dataRoot));
            else if (target_.dataRoot.find(L';') != std::wstring::npos)
                warn(L"PATH has a ';' in it, which belongs to the folder's name: taken " + shown(target_.dataRoot));
            prepareFolders_(target_);
        } else if (line.starts_with(L"ENCRYPT")) {
            checkEquals(line, L"ENCRYPT");
            if (line.size() > 8 && line[8] == L'0') target_.encryptMode = 0;
            const std::wstring value = withoutLineFeed(valueFrom(line, 8));
            if (value != L"0" && value != L"1")
                warn(L"ENCRYPT=" + withoutLineFeed(valueFrom(line, 8)) +
                     (line.size() > 8 && line[8] == L'0'
                          ? L": only the 0 right after '=' counts: the plain mode is taken"
                          : L": only a 0 right after '=' selects the plain mode: the encrypted mode stays"));
        } else if (line.starts_with(L"AREACODE")) {
            checkEquals(line, L"AREACODE");
            const std::wstring whole = withoutLineFeed(valueFrom(line, 9));
            std::wstring code = line.size() > 9 ? line.substr(9, 8) : std::wstring();
            if (!code.empty() && code.back() == L'\n') code.pop_back();
            target_.areaCode = code;
            if (whole.size() > code.size())
                warn(L"AREACODE is longer than 8 characters: taken " + shown(code));
            else if (!code.empty() && !isDigits(code))
                warn(L"AREACODE is not digits: taken " + shown(code));
        } else if (line.starts_with(L"SWITCHES")) {
            checkEquals(line, L"SWITCHES");
            readSwitches(withoutLineFeed(valueFrom(line, 9)));
        } else if (line.starts_with(L"ALLOW")) {
            checkEquals(line, L"ALLOW");
            readAllowed(withoutLineFeed(valueFrom(line, 6)));
        } else if (line.starts_with(L"SYNC")) {
            checkEquals(line, L"SYNC");
            const std::wstring value = withoutLineFeed(valueFrom(line, 5));
            if (value == L"0" || value == L"1")
                target_.sync = value == L"1";
            else
                warn(L"SYNC=" + value + L": only 0 (no syncing) or 1 (syncing) is read: syncing stays " +
                     (target_.sync ? L"on" : L"off"));
        } else {
            warnIgnored(withoutLineFeed(line));
        }
    }

private:
    void warn(std::wstring text) {
        if (warnings_ != nullptr) warnings_->push_back({line_, std::move(text)});
    }

    // The character after a key is never looked at: "TYPES=IN" is TYPE.
    void checkEquals(const std::wstring& line, std::wstring_view key) {
        if (line.size() > key.size() && line[key.size()] != L'=')
            warn(shown(withoutLineFeed(line.substr(0, line.find(L'=')))) + L" is taken for the key " +
                 std::wstring(key));
    }

    // Each item of a comma-separated value, blanks around it left out.
    template <typename Take>
    static void forEachItem(std::wstring_view value, Take take) {
        std::size_t start = 0;
        while (start <= value.size()) {
            std::size_t end = value.find(L',', start);
            if (end == std::wstring_view::npos) end = value.size();
            std::wstring_view item = value.substr(start, end - start);
            const std::size_t first = item.find_first_not_of(L" \t");
            const std::size_t last = item.find_last_not_of(L" \t");
            item = first == std::wstring_view::npos ? std::wstring_view() : item.substr(first, last - first + 1);
            start = end + 1;
            if (!item.empty()) take(item);
        }
    }

    void readAllowed(std::wstring_view value) {
        target_.allowGiven = true;
        forEachItem(value, [&](std::wstring_view item) {
            AddressRange range;
            if (parseAddressRange(toAnsi(item), range))
                target_.allow.push_back(range);
            else
                warn(L"ALLOW: " + shown(item) + L" is no IPv4 address or network: it is left out");
        });
    }

    // Comma-separated MACs; every SWITCHES line adds to the list.
    void readSwitches(std::wstring_view value) {
        target_.switchesListed = true;
        forEachItem(value, [&](std::wstring_view item) {
            const auto same = [&](const std::wstring& listed) { return sameSwitch(listed, item); };
            if (std::any_of(target_.switches.begin(), target_.switches.end(), same)) {
                warn(L"SWITCHES: " + shown(item) + L" is listed twice");
                return;
            }
            if (!looksLikeMac(item))
                warn(L"SWITCHES: " + shown(item) +
                     L" is no MAC of six hexadecimal pairs (00-1A-2B-3C-4D-5E): it is kept as it is written");
            target_.switches.emplace_back(item);
        });
        if (target_.switches.empty()) warn(L"SWITCHES lists no switch: no new switch gets a folder");
    }

    // Two MACs that name one folder: ':' and '-' alike, letter case aside.
    static bool sameSwitch(std::wstring_view a, std::wstring_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t index = 0; index < a.size(); ++index) {
            const auto folded = [](wchar_t c) {
                if (c == L':') return L'-';
                return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
            };
            if (folded(a[index]) != folded(b[index])) return false;
        }
        return true;
    }

    void warnIgnored(const std::wstring& line) {
        // Blank lines, comments and section headers are meant to be ignored.
        if (line.empty() || line.starts_with(L';') || line.starts_with(L'#') || line.starts_with(L'[')) return;
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            warn(L"the line is no setting and is ignored: " + shown(line));
            return;
        }
        const std::wstring key = line.substr(0, equals);
        for (const std::wstring_view known : keys) {
            if (sameLetters(key, known)) {
                warn(L"the key " + shown(key) + L" is not written " + std::wstring(known) +
                     L" (keys are in capitals): the line is ignored");
                return;
            }
        }
        warn(L"the key " + shown(key) +
             L" is unknown (TYPE, PATH, ENCRYPT, AREACODE, ALLOW, SWITCHES, SYNC): the line is ignored");
    }

    Settings& target_;
    void (*prepareFolders_)(Settings&);
    std::vector<SettingsWarning>* warnings_;
    int line_ = 0;
    int lastLongLine_ = 0;
};

}  // namespace

bool noValidSender(const Settings& settings, std::wstring* why) {
    if (!settings.allowGiven || !settings.allow.empty()) return false;
    if (why != nullptr)
        *why =
            L"Quelvar.ini: ALLOW names no valid IPv4 address or network: the collector does not start rather "
            L"than let every sender in";
    return true;
}

void keepDataRoots(const Settings& settings) {
    const std::string rec = pathIn(settings.programDirAnsi, "rec");
    platform::setDataRoots({settings.dataRoot.empty() ? rec : toAnsi(settings.dataRoot), rec});
}

void prepareDataRoot(Settings& target) {
    if (const Status made = ensureFolderPath(target.dataRoot); !made.ok() && !made.is(Status::Code::exists))
        target.dataRoot.clear();
    // Today's files are made as the records' are: never through a link.
    keepDataRoots(target);
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

void applySettingsText(const std::string& contents, Settings& target, void (*prepareFolders)(Settings&),
                       std::vector<SettingsWarning>* warnings) {
    LineReader reader(target, prepareFolders, warnings);
    for (const Piece& piece : readPieces(contents)) reader.apply(piece);
}

Status readSettingsFile(const std::string& path, std::string& contents, std::vector<SettingsWarning>* warnings) {
    bool whole = true;
    platform::FileVersion version;
    const Status read = platform::readRegularFile(path, configurationFileLimit, contents, whole, version);
    if (!read.ok()) {
        if (!read.is(Status::Code::notFound) && warnings != nullptr)
            warnings->push_back({0, L"the file cannot be read (" + fromAnsi(read.reason()) + L"): the defaults are taken"});
        return read;
    }
    if (!whole) {
        // A line the limit cuts in two would be taken for another.
        contents.resize(contents.rfind('\n') == std::string::npos ? 0 : contents.rfind('\n') + 1);
        if (warnings != nullptr)
            warnings->push_back({0, formatText(L"the file is larger than 1 MiB (%d bytes): only its first MiB is "
                                               L"read, up to its last line end",
                                               static_cast<long long>(version.size))});
    }
    return {};
}

void loadSettings(const std::string& path, Settings& target, std::vector<SettingsWarning>* warnings) {
    std::string contents;
    if (readSettingsFile(path, contents, warnings).ok()) applySettingsText(contents, target, prepareDataRoot, warnings);
}

}  // namespace quelvar
