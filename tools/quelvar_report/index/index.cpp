#include "quelvar_report/index/index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

#include "core/settings.h"
#include "core/text.h"
#include "core/utf16.h"
#include "quelvar_report/reading/dates.h"
#include "quelvar_report/reading/record_lines.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/index/statement.h"
#include "xls/workbook_file.h"

namespace quelvar::report {

namespace {

// ---- the files under the roots ----

enum class Kind { mergedText, mergedCsv, legText, workbook };

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::mergedText: return "new-text";
        case Kind::mergedCsv: return "new-csv";
        case Kind::legText: return "old-text";
        case Kind::workbook: return "workbook";
    }
    return "";
}

struct FoundFile {
    std::string path;
    Kind kind = Kind::mergedText;
    std::string switchName;  // '' for a workbook
    std::string day;         // YYYY-MM-DD as the file is named (a workbook: YYYY-MM-01)
    bool err = false;
    long long size = 0;
    long long mtime = 0;
};

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What the collector names its files: <switch>/{new,old}/CDR_YYYY_MM_DD.{txt,csv}
// under a record base or its err tree, and <YYYY><MM>.xls. Everything else
// (the log, queues, journals, locks, files of other programs) is not read.
std::optional<FoundFile> classify(const std::vector<std::string>& folders, const std::string& name) {
    FoundFile file;
    if (name.size() == 10 && name.ends_with(".xls") && allDigits(std::string_view(name).substr(0, 6))) {
        file.kind = Kind::workbook;
        file.day = name.substr(0, 4) + "-" + name.substr(4, 2) + "-01";
        return file;
    }
    if (folders.size() < 2 || !name.starts_with("CDR_") || name.size() < 9) return std::nullopt;
    const std::string& sub = folders.back();
    const bool text = name.ends_with(".txt");
    if (!text && !name.ends_with(".csv")) return std::nullopt;
    if (sub == "new") file.kind = text ? Kind::mergedText : Kind::mergedCsv;
    else if (sub == "old" && text) file.kind = Kind::legText;
    else return std::nullopt;
    file.switchName = folders[folders.size() - 2];
    file.err = folders.size() >= 3 && folders[folders.size() - 3] == "err";
    file.day = name.substr(4, name.size() - 8);
    std::replace(file.day.begin(), file.day.end(), '_', '-');
    return file;
}

struct Walk {
    std::set<std::pair<dev_t, ino_t>> folders;  // each folder once: links and overlapping roots
    std::set<std::pair<dev_t, ino_t>> files;
    std::vector<FoundFile> found;
};

void walkFolder(Walk& walk, const std::string& path, std::vector<std::string>& names) {
    // Deep enough for any record base inside the program folder.
    if (names.size() > 24) return;
    DIR* folder = opendir(path.c_str());
    if (!folder) return;
    std::vector<std::string> entries;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") entries.push_back(name);
    }
    closedir(folder);
    std::sort(entries.begin(), entries.end());
    for (const std::string& name : entries) {
        const std::string child = path + "/" + name;
        struct stat info {};
        // Links are never followed: the collector never files through one.
        if (lstat(child.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (!walk.folders.insert({info.st_dev, info.st_ino}).second) continue;
            names.push_back(name);
            walkFolder(walk, child, names);
            names.pop_back();
        } else if (S_ISREG(info.st_mode)) {
            std::optional<FoundFile> file = classify(names, name);
            if (!file || !walk.files.insert({info.st_dev, info.st_ino}).second) continue;
            file->path = child;
            file->size = info.st_size;
            file->mtime = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
            walk.found.push_back(std::move(*file));
        }
    }
}

Status readWhole(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return Status::error(Status::Code::failed, "read", path, std::strerror(errno));
    struct stat info {};
    if (fstat(descriptor, &info) == 0 && info.st_size > 0) bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const Status failed = Status::error(Status::Code::failed, "read", path, std::strerror(errno));
            close(descriptor);
            return failed;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(descriptor);
    return {};
}

// Tells a file's bytes apart from any others it might have held.
std::string hashOf(std::string_view bytes) {
    std::uint64_t state = 0x84222325cbf29ce4ULL ^ bytes.size();
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        state = (state ^ word) * 0x9E3779B97F4A7C15ULL;
        state ^= state >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + at, bytes.size() - at);
    state = (state ^ tail) * 0xBF58476D1CE4E5B9ULL;
    state ^= state >> 31;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(state));
    return text;
}

// ---- the database ----

Status databaseError(sqlite3* database, const std::string& what) {
    return Status::error(Status::Code::failed, "index", what, indexFailure(database, sqlite3_extended_errcode(database)));
}

Status execute(sqlite3* database, const char* sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(database, sql, nullptr, nullptr, &message);
    if (result == SQLITE_OK) return {};
    std::string why = message ? message : "failed";
    sqlite3_free(message);
    if ((result & 0xFF) == SQLITE_CORRUPT || (result & 0xFF) == SQLITE_NOTADB) why.append("; ").append(rebuildAdvice);
    return Status::error(Status::Code::failed, "index", "", why);
}

// ---- calls as they are joined from their copies ----

struct Leg {
    std::string rid;
    long long number = 0;
    std::optional<std::string> start, end;
    long long seconds = 0;
    std::string trunk;
};

struct Call {
    long long id = 0;  // 0 until it is written
    std::string key, callId, account, caller, callee, category, type, route, file;
    std::string day;  // a workbook row's; the others have their file's
    long long line = 0;
    int flags = 0;
    bool impossibleStart = false;  // a copy's start was filed, but as no real time
    std::string text;
    long long occurrence = 0;
    int copies = 0;
    long long conflicts = 0;
    int source = 0;  // where the values come from: 3 the merged text, 2 the CSV, 1 a leg line
    std::optional<long long> filedCount, filedSeconds;
    std::optional<std::string> filedStart, filedEnd, filedTrunk;
    std::vector<Leg> legs;
    // The records of its later legs where each came alone (the plain mode,
    // or legs sent in datagrams of their own): copies of a leg, not calls.
    struct LegCopy {
        Leg leg;
        int copies = 0;
    };
    std::vector<LegCopy> legCopies;
    Call* next = nullptr;  // the next call under the same key that day
    bool carried = false;  // its legs went to the call they continue, the day before
    // Worked out before writing.
    std::optional<std::string> start, end;
    long long seconds = 0, legCount = 0;
    std::string trunk;
};

constexpr int textCopy = 1;
constexpr int csvCopy = 2;

long long secondsOf(std::string_view duration) {
    long long value = 0;
    for (const char c : duration) {
        if (c < '0' || c > '9' || value > 1'000'000'000'000LL) break;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool differ(const std::string& one, const std::string& other) {
    return !one.empty() && !other.empty() && one != other;
}

long long legNumber(std::string_view rid) {
    const std::string_view part = legOf(rid);
    return part.empty() ? 1 : (allDigits(part.substr(0, 1)) ? secondsOf(part) : 0);
}

// The call's values from the copy it is now taken from.
void takeValues(Call& call, const FiledLine& line, const std::string& file, long long lineNumber, int source) {
    call.callId = line.rid;
    call.account = line.account;
    call.caller = line.caller;
    call.callee = line.callee;
    call.category = line.category;
    call.type = line.type;
    call.route = line.route;
    call.file = file;
    call.line = lineNumber;
    call.source = source;
}

struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

// The calls of one switch and day, each under its key.
class CallBook {
public:
    std::vector<std::unique_ptr<Call>>& calls() { return calls_; }

    Call& add(std::unique_ptr<Call> call) {
        Call& added = *call;
        if (!(added.flags & unparsable)) {
            const auto [first, fresh] = byKey_.try_emplace(added.key, &added);
            if (!fresh) {
                // In the order of their occurrence.
                Call** place = &first->second;
                while (*place && (*place)->occurrence < added.occurrence) place = &(*place)->next;
                added.next = *place;
                *place = &added;
            }
        }
        calls_.push_back(std::move(call));
        return added;
    }

    // A copy joins the first call under its key that lacks such a copy:
    // a key filed again on the same day makes the next call.
    template <typename Lacks>
    Call& callFor(std::string_view key, Lacks lacks) {
        long long occurrences = 0;
        if (const auto found = byKey_.find(key); found != byKey_.end())
            for (Call* call = found->second; call; call = call->next, ++occurrences)
                if (lacks(*call)) return *call;
        auto call = std::make_unique<Call>();
        call->key = key;
        call->occurrence = occurrences;
        return add(std::move(call));
    }

    void addMerged(const FiledLine& line, int copy, const std::string& file, long long lineNumber, bool err) {
        if (addLaterLeg(line, copy, err)) return;
        Call& call = callFor(callKeyOf(line.rid), [copy](const Call& c) { return !(c.copies & copy); });
        const std::optional<std::string> start = isoTime(line.start), end = isoTime(line.end);
        const long long seconds = secondsOf(line.duration);
        if (call.copies) {
            // The other merged copy of the same record.
            const bool typesDiffer = copy == csvCopy ? line.type != typeLabel(call.type) || line.route != routeLabelOf(call.route)
                                                     : call.type != typeLabel(line.type) || call.route != routeLabelOf(line.route);
            if (typesDiffer || call.account != line.account || call.caller != line.caller ||
                call.callee != line.callee || call.category != line.category || call.filedStart != start ||
                call.filedEnd != end || call.filedSeconds != seconds || call.filedTrunk != line.trunk)
                ++call.conflicts;
        } else if (call.source == 1 && (differ(call.account, line.account) || differ(call.caller, line.caller) ||
                                        differ(call.callee, line.callee))) {
            ++call.conflicts;
        }
        if (copy == textCopy || call.source < 2) {
            takeValues(call, line, file, lineNumber, copy == textCopy ? 3 : 2);
            call.impossibleStart |= !start && line.start != "?";
            call.filedStart = start;
            call.filedEnd = end;
            call.filedSeconds = seconds;
            call.filedTrunk = line.trunk;
        }
        if (copy == textCopy) {
            call.filedCount = allDigits(line.count) ? std::optional<long long>(secondsOf(line.count)) : std::nullopt;
        }
        call.copies |= copy;
        if (err) call.flags |= fromErrTree;
    }

    // A record of a later leg that came alone joins the call of the leg
    // before it as a copy of that leg, so that it is neither a call of its
    // own nor counted twice; gives false when it is no such record.
    bool addLaterLeg(const FiledLine& line, int copy, bool err) {
        const long long number = legNumber(line.rid);
        const bool alone = copy == csvCopy || !allDigits(line.count) || secondsOf(line.count) <= 1;
        if (number <= 1 || !alone) return false;
        const auto first = byKey_.find(callKeyOf(line.rid));
        if (first == byKey_.end()) return false;
        for (Call* call = first->second; call; call = call->next) {
            if (!call->copies || legNumber(call->callId) >= number) continue;
            const auto had = std::find_if(call->legCopies.begin(), call->legCopies.end(),
                                          [&](const Call::LegCopy& each) { return each.leg.rid == line.rid; });
            if (had != call->legCopies.end() && (had->copies & copy)) continue;
            Call::LegCopy& legCopy = had != call->legCopies.end() ? *had : call->legCopies.emplace_back();
            if (legCopy.copies == 0 || copy == textCopy) {
                legCopy.leg.rid = line.rid;
                legCopy.leg.number = number;
                legCopy.leg.start = isoTime(line.start);
                legCopy.leg.end = isoTime(line.end);
                legCopy.leg.seconds = secondsOf(line.duration);
                legCopy.leg.trunk = line.trunk;
            }
            legCopy.copies |= copy;
            if (err) call->flags |= fromErrTree;
            return true;
        }
        return false;
    }

    void addLeg(const FiledLine& line, const std::string& file, long long lineNumber, bool err) {
        Call& call = callFor(callKeyOf(line.rid), [&](const Call& c) {
            return std::none_of(c.legs.begin(), c.legs.end(), [&](const Leg& leg) { return leg.rid == line.rid; });
        });
        Leg leg;
        leg.rid = line.rid;
        leg.number = legNumber(line.rid);
        leg.start = isoTime(line.start);
        leg.end = isoTime(line.end);
        leg.seconds = secondsOf(line.duration);
        leg.trunk = line.trunk;
        if (call.source >= 2 && leg.number == 1 &&
            (differ(call.account, line.account) || differ(call.caller, line.caller) || differ(call.callee, line.callee)))
            ++call.conflicts;
        if (call.source == 0) takeValues(call, line, file, lineNumber, 1);
        call.impossibleStart |= leg.number <= 1 && !leg.start && line.start != "?";
        call.legs.push_back(std::move(leg));
        if (err) call.flags |= fromErrTree;
    }

    void addUnparsable(std::string_view bytes, const std::string& file, long long lineNumber, bool err) {
        auto call = std::make_unique<Call>();
        call->flags = unparsable | (err ? fromErrTree : 0);
        call->text = utf8FromGbk(bytes);
        call->file = file;
        call->line = lineNumber;
        add(std::move(call));
    }

    // Calls of legs only that lack their first leg: the later legs of a call
    // that began the day before, filed by their own start's date.
    std::vector<Call*> continuations() {
        std::vector<Call*> found;
        for (auto& call : calls_)
            if (!call->id && !call->carried && !(call->flags & unparsable) && !call->copies && !call->legs.empty() &&
                std::all_of(call->legs.begin(), call->legs.end(), [](const Leg& leg) { return leg.number > 1; }))
                found.push_back(call.get());
        return found;
    }

    // Joins a continuation to the call it continues, when there is one that
    // has a merged record and lacks those legs (or has them already, as
    // when its next day is read again); gives that call, if any.
    Call* carry(Call& continuation) {
        const auto first = byKey_.find(continuation.key);
        if (first == byKey_.end()) return nullptr;
        for (Call* call = first->second; call; call = call->next) {
            if (!call->copies) continue;
            bool fits = true;
            for (const Leg& leg : continuation.legs)
                for (const Leg& had : call->legs)
                    fits = fits && (had.rid != leg.rid || had.start == leg.start);
            if (!fits) continue;
            for (const Leg& leg : continuation.legs)
                if (std::none_of(call->legs.begin(), call->legs.end(),
                                 [&](const Leg& had) { return had.rid == leg.rid; }))
                    call->legs.push_back(leg);
            call->flags |= continuation.flags & fromErrTree;
            continuation.carried = true;
            return call;
        }
        return nullptr;
    }

    // The figures of each call from its legs, or from its merged record
    // when no leg line was found; and where its copies disagree.
    void settle() {
        for (auto& owned : calls_) {
            Call& call = *owned;
            if (call.flags & unparsable) continue;
            if (!call.legCopies.empty()) {
                // Legs known only by their own records count as legs; the
                // first then only by the call's.
                if (call.legs.empty()) {
                    Leg first;
                    first.rid = call.callId;
                    first.number = legNumber(call.callId);
                    first.start = call.filedStart;
                    first.end = call.filedEnd;
                    first.seconds = call.filedSeconds.value_or(0);
                    first.trunk = call.filedTrunk.value_or("");
                    call.legs.push_back(std::move(first));
                }
                for (const Call::LegCopy& legCopy : call.legCopies)
                    if (std::none_of(call.legs.begin(), call.legs.end(),
                                     [&](const Leg& leg) { return leg.rid == legCopy.leg.rid; }))
                        call.legs.push_back(legCopy.leg);
            }
            std::sort(call.legs.begin(), call.legs.end(), [](const Leg& a, const Leg& b) {
                return a.number != b.number ? a.number < b.number : a.rid < b.rid;
            });
            call.flags &= ~(disagreeing | repeatFiled);
            if (call.legs.empty()) {
                call.start = call.filedStart;
                call.end = call.filedEnd;
                call.seconds = call.filedSeconds.value_or(0);
                call.trunk = call.filedTrunk.value_or("");
                call.legCount = call.filedCount.value_or(1);
            } else {
                const Leg& first = call.legs.front();
                call.start = first.start;
                call.end = call.legs.back().end;
                call.seconds = 0;
                for (const Leg& leg : call.legs) call.seconds += leg.seconds;
                call.trunk = first.trunk;
                call.legCount = static_cast<long long>(call.legs.size());
                // A call whose legs came alone was counted one leg at a time.
                const bool countDiffers =
                    call.filedCount && *call.filedCount != call.legCount && call.legCopies.empty();
                if (call.copies && (countDiffers || call.filedStart != first.start ||
                     call.filedSeconds != first.seconds || call.filedTrunk != first.trunk))
                    call.flags |= disagreeing;
            }
            if (call.conflicts) call.flags |= disagreeing;
            call.flags &= ~impossibleTime;
            if (!call.start && call.impossibleStart) call.flags |= impossibleTime;
        }
        for (auto& [key, first] : byKey_)
            for (Call* again = first->next; again; again = again->next)
                if (again->start && again->start == first->start) again->flags |= repeatFiled;
    }

private:
    std::vector<std::unique_ptr<Call>> calls_;
    std::unordered_map<std::string, Call*, KeyHash, std::equal_to<>> byKey_;
};

// The calendar day next to a YYYY-MM-DD; empty for what is no such day.
std::string dayMoved(const std::string& day, int by) {
    int year = 0, month = 0, date = 0;
    char rest = 0;
    if (day.size() != 10 || std::sscanf(day.c_str(), "%4d-%2d-%2d%c", &year, &month, &date, &rest) != 3 ||
        month < 1 || month > 12 || date < 1 || date > 31)
        return {};
    std::tm calendar{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = date + by;
    calendar.tm_hour = 12;
    if (timegm(&calendar) == -1) return {};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", calendar.tm_year + 1900, calendar.tm_mon + 1,
                  calendar.tm_mday);
    return text;
}
std::string dayBefore(const std::string& day) { return dayMoved(day, -1); }
std::string dayAfter(const std::string& day) { return dayMoved(day, 1); }

// ---- one run ----

struct KnownFile {
    std::string kind, switchName, day;
    long long size = 0, mtime = 0, lines = 0;
    std::string hash;
    bool seen = false;
};

enum class FileState { unchanged, grown, changed };

struct PlannedFile {
    FoundFile found;
    FileState state = FileState::changed;
    long long from = 0, fromLine = 0;  // where a grown file's new part starts
};

struct Group {
    std::string switchName, day, workbook;  // a workbook is a group of its own
    std::vector<PlannedFile> files;
    bool rebuild = false;
    bool known = false;  // rows of it may be in the database
    const Group* nextDay = nullptr;  // the same switch's files of the day after

    bool needsWork() const {
        return rebuild || std::any_of(files.begin(), files.end(),
                                      [](const PlannedFile& file) { return file.state != FileState::unchanged; });
    }
    // Joining new lines to the calls already indexed needs those calls first.
    bool joinsIndexed() const { return known && !rebuild && workbook.empty(); }
};

// What reading one group gave: its calls and where each file was read to.
struct GroupWork {
    Group* group = nullptr;
    CallBook book;
    struct FileRead {
        const FoundFile* found;
        long long size, lines;
        std::string hash;
    };
    std::vector<FileRead> files;
    // Files that could not be read. Their rows went with a group read anew:
    // they are forgotten, to be read whole next time.
    std::vector<const FoundFile*> unreadable;
    long filesRead = 0, unparsableLines = 0;
};

void readRecordFile(GroupWork& work, const PlannedFile& planned, const std::string& bytes) {
    const FoundFile& file = planned.found;
    const LineKind kind = file.kind == Kind::mergedText  ? LineKind::mergedText
                          : file.kind == Kind::mergedCsv ? LineKind::mergedCsv
                                                         : LineKind::legText;
    long long lineNumber = planned.fromLine;
    std::size_t at = static_cast<std::size_t>(planned.from);
    FiledLine line;
    // Only whole lines: one the collector is still writing is read next time.
    for (std::size_t end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string_view text(bytes.data() + at, end - at);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        ++lineNumber;
        switch (readRecordLine(kind, text, lineNumber, line)) {
            case LineRead::record:
                if (kind == LineKind::legText) work.book.addLeg(line, file.path, lineNumber, file.err);
                else
                    work.book.addMerged(line, kind == LineKind::mergedText ? textCopy : csvCopy, file.path, lineNumber,
                                        file.err);
                break;
            case LineRead::unparsable:
                work.book.addUnparsable(text, file.path, lineNumber, file.err);
                ++work.unparsableLines;
                break;
            case LineRead::header:
            case LineRead::blank: break;
        }
    }
    work.files.push_back({&file, static_cast<long long>(at), lineNumber, hashOf(std::string_view(bytes).substr(0, at))});
}

std::string utf8Of(std::u16string_view text) {
    return utf8FromWide(fromUtf16(text));
}

void readWorkbook(GroupWork& work, const PlannedFile& planned, const std::string& bytes) {
    const FoundFile& file = planned.found;
    work.files.push_back({&file, static_cast<long long>(bytes.size()), 0, hashOf(bytes)});
    xls::Workbook workbook;
    std::string why;
    if (xls::readWorkbookFile(bytes, workbook, why) != xls::FileReadResult::ok) {
        // Kept in sight: the rows it holds are not counted until it is read.
        work.book.addUnparsable("workbook not read: " + why, file.path, 0, false);
        ++work.unparsableLines;
        return;
    }
    static const std::u16string titles[] = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路"};
    long long occurrence = 0;
    for (const xls::Sheet& sheet : workbook.sheets) {
        std::map<std::uint32_t, std::map<std::uint16_t, std::string>> rows;
        int columnOf[7] = {-1, -1, -1, -1, -1, -1, -1};
        for (const xls::Cell& cell : sheet.cells) {
            std::string value;
            if (cell.kind == xls::CellKind::text && cell.text < workbook.strings.size()) {
                if (cell.row == 0)
                    for (int title = 0; title < 7; ++title)
                        if (workbook.strings[cell.text] == titles[title]) columnOf[title] = cell.column;
                value = utf8Of(workbook.strings[cell.text]);
            } else if (cell.kind == xls::CellKind::number) {
                char number[32];
                std::snprintf(number, sizeof number, "%.15g", cell.value);
                value = number;
            }
            if (cell.row > 0) rows[cell.row][cell.column] = value;
        }
        const std::string sheetName = utf8Of(sheet.name);
        const std::string day = file.day.substr(0, 8) + sheetName;
        for (const auto& [row, cells] : rows) {
            // A lambda takes no structured binding in every compiler this builds with.
            const auto& values = cells;
            const auto valueOf = [&](int title) {
                const auto found =
                    columnOf[title] < 0 ? values.end() : values.find(static_cast<std::uint16_t>(columnOf[title]));
                return found == values.end() ? std::string() : found->second;
            };
            const std::string time = valueOf(4), duration = valueOf(5);
            int hours = 0, minutes = 0, seconds = 0;
            char rest = 0;
            const bool timed = std::sscanf(duration.c_str(), "%d:%d:%d%c", &hours, &minutes, &seconds, &rest) == 3;
            if (!timed || sheetName.size() != 2 || !allDigits(sheetName)) {
                std::string text = sheetName;
                for (const auto& [column, value] : values) text += "\t" + value;
                work.book.addUnparsable(text, file.path, row + 1, false);
                ++work.unparsableLines;
                continue;
            }
            auto call = std::make_unique<Call>();
            call->occurrence = occurrence++;
            call->account = valueOf(0);
            call->type = valueOf(1);
            call->caller = valueOf(2);
            call->callee = valueOf(3);
            call->route = valueOf(6);
            call->file = file.path;
            call->line = row + 1;
            call->seconds = static_cast<long long>(hours) * 3600 + minutes * 60 + seconds;
            call->filedSeconds = call->seconds;
            call->legCount = 1;
            long long moment = 0;
            if (parseMoment(day + "T" + time, moment)) call->start = day + "T" + time;
            else call->impossibleStart = !time.empty();
            call->filedStart = call->start;
            call->day = day;
            work.book.calls().push_back(std::move(call));
        }
    }
}

void readGroup(GroupWork& work);

// A day read anew takes back the legs its calls have in the next day's
// files (read whole, only for those).
void takeContinuations(GroupWork& work) {
    if (!work.group->nextDay) return;
    Group next = *work.group->nextDay;
    next.rebuild = true;
    next.nextDay = nullptr;
    GroupWork following;
    following.group = &next;
    readGroup(following);
    for (Call* continuation : following.book.continuations()) work.book.carry(*continuation);
}

// Reads the new parts of a group's files (all of them when it is read
// anew) and joins them to the calls `work` holds already.
void readGroup(GroupWork& work) {
    Group& group = *work.group;
    // The merged copies first, then the legs, the err tree after the rest.
    std::sort(group.files.begin(), group.files.end(), [](const PlannedFile& a, const PlannedFile& b) {
        return std::tie(a.found.err, a.found.kind, a.found.path) < std::tie(b.found.err, b.found.kind, b.found.path);
    });
    std::string bytes;
    for (PlannedFile& file : group.files) {
        if (group.rebuild) {
            file.from = 0;
            file.fromLine = 0;
        } else if (file.state == FileState::unchanged) {
            continue;
        }
        if (!readWhole(file.found.path, bytes).ok()) {
            if (group.rebuild) work.unreadable.push_back(&file.found);
            continue;
        }
        ++work.filesRead;
        if (file.found.kind == Kind::workbook) readWorkbook(work, file, bytes);
        else readRecordFile(work, file, bytes);
    }
    if (group.rebuild && group.workbook.empty()) takeContinuations(work);
    if (group.workbook.empty()) work.book.settle();
}

constexpr const char* insertCallSql =
    "INSERT OR REPLACE INTO calls(id, switch, call_key, call_id, account, caller, callee, legs, start, end, seconds,"
    " category, type, route, trunk, day, file, line, flags, text, occurrence, copies, conflicts, filed_count,"
    " filed_start, filed_end, filed_seconds, filed_trunk)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22,"
    " ?23, ?24, ?25, ?26, ?27, ?28)";

// Groups read one after another on a thread of their own, handed over in order.
class Reader {
public:
    explicit Reader(std::vector<Group*> groups) : groups_(std::move(groups)), thread_([this] { run(); }) {}
    ~Reader() {
        {
            const std::lock_guard lock(guard_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // A written group is freed on the reading thread, which has the time.
    void recycle(std::unique_ptr<GroupWork> work) {
        const std::lock_guard lock(guard_);
        written_.push_back(std::move(work));
    }

    std::unique_ptr<GroupWork> next() {
        std::unique_lock lock(guard_);
        changed_.wait(lock, [this] { return !ready_.empty(); });
        std::unique_ptr<GroupWork> work = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return work;
    }

private:
    void run() {
        for (Group* group : groups_) {
            {
                std::vector<std::unique_ptr<GroupWork>> written;
                {
                    const std::lock_guard lock(guard_);
                    written.swap(written_);
                }
            }
            auto work = std::make_unique<GroupWork>();
            work->group = group;
            readGroup(*work);
            std::unique_lock lock(guard_);
            // A few groups ahead at most: memory stays that of a few days.
            changed_.wait(lock, [this] { return ready_.size() < 4 || stopping_; });
            if (stopping_) return;
            ready_.push_back(std::move(work));
            changed_.notify_all();
        }
    }

    std::vector<Group*> groups_;
    std::mutex guard_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<GroupWork>> ready_;
    std::vector<std::unique_ptr<GroupWork>> written_;
    bool stopping_ = false;
    std::thread thread_;
};

class Indexer {
public:
    Indexer(sqlite3* database, IndexReport& report)
        : database_(database),
          report_(report),
          insertCall_(database, insertCallSql),
          insertLeg_(database,
                     "INSERT INTO legs(call, leg, start, end, seconds, trunk, rid) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
          deleteLegs_(database, "DELETE FROM legs WHERE call = ?1"),
          saveFile_(database,
                    "INSERT OR REPLACE INTO files(path, kind, switch, day, err, size, mtime, hash, lines)"
                    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") {}

    bool ready() const {
        return insertCall_.ready() && insertLeg_.ready() && deleteLegs_.ready() && saveFile_.ready();
    }
    bool failed() const {
        return failed_ || insertCall_.failed() || insertLeg_.failed() || deleteLegs_.failed() || saveFile_.failed();
    }

    Status index(const std::vector<FoundFile>& found, const std::vector<std::string>& roots);
    // The switches' days (switch, file day) whose calls were written.
    const std::set<std::pair<std::string, std::string>>& touched() const { return touched_; }

private:
    void touch(const Group& group);
    void loadKnownFiles();
    void plan(const std::vector<FoundFile>& found, const std::vector<std::string>& roots);
    void loadGroup(CallBook& book, const Group& group);
    void writeGroup(GroupWork& work);
    void carryToDayBefore(GroupWork& work, GroupWork* last);
    void writeCall(Call& call, const Group& group, bool replaceLegs);

    sqlite3* database_;
    IndexReport& report_;
    Statement insertCall_, insertLeg_, deleteLegs_, saveFile_;
    std::unordered_map<std::string, KnownFile> known_;
    std::map<std::string, Group> groups_;
    std::set<std::pair<std::string, std::string>> touched_;
    bool failed_ = false;
};

void Indexer::touch(const Group& group) {
    if (group.workbook.empty()) {
        touched_.emplace(group.switchName, group.day);
        return;
    }
    // A workbook's rows lie on the days of its month.
    char day[4];
    for (int date = 1; date <= 31; ++date) {
        std::snprintf(day, sizeof day, "%02d", date);
        touched_.emplace("", group.day.substr(0, 8) + day);
    }
}

void Indexer::loadKnownFiles() {
    Statement select(database_, "SELECT path, kind, switch, day, size, mtime, hash, lines FROM files");
    while (select.step()) {
        KnownFile& file = known_[select.text(0)];
        file.kind = select.text(1);
        file.switchName = select.text(2);
        file.day = select.text(3);
        file.size = select.integer(4);
        file.mtime = select.integer(5);
        file.hash = select.text(6);
        file.lines = select.integer(7);
    }
    failed_ = failed_ || select.failed();
}

std::string groupKey(const std::string& switchName, const std::string& day, const std::string& workbook) {
    return workbook.empty() ? switchName + '\n' + day : "\x01" + workbook;
}

void Indexer::plan(const std::vector<FoundFile>& found, const std::vector<std::string>& roots) {
    for (const FoundFile& file : found) {
        const std::string workbook = file.kind == Kind::workbook ? file.path : std::string();
        Group& group = groups_[groupKey(file.switchName, file.day, workbook)];
        group.switchName = file.switchName;
        group.day = file.day;
        group.workbook = workbook;
        PlannedFile planned{file, FileState::changed, 0, 0};
        const auto knownFile = known_.find(file.path);
        if (knownFile == known_.end()) {
            planned.state = FileState::grown;  // new: grown from nothing
        } else {
            KnownFile& known = knownFile->second;
            known.seen = true;
            group.known = true;
            if (known.kind != kindName(file.kind)) {
                planned.state = FileState::changed;
            } else if (known.size == file.size && known.mtime == file.mtime) {
                planned.state = FileState::unchanged;
            } else if (file.size >= known.size && file.kind != Kind::workbook) {
                // Grown only when the part read before is still as it was.
                std::string bytes;
                const bool same =
                    readWhole(file.path, bytes).ok() && bytes.size() >= static_cast<std::size_t>(known.size) &&
                    hashOf(std::string_view(bytes).substr(0, static_cast<std::size_t>(known.size))) == known.hash;
                planned.state = same ? FileState::grown : FileState::changed;
                planned.from = same ? known.size : 0;
                planned.fromLine = same ? known.lines : 0;
            }
        }
        if (planned.state == FileState::changed) group.rebuild = true;
        group.files.push_back(std::move(planned));
    }
    for (auto& [key, group] : groups_) {
        if (!group.workbook.empty()) continue;
        const auto next = groups_.find(groupKey(group.switchName, dayAfter(group.day), {}));
        if (next != groups_.end()) group.nextDay = &next->second;
    }
    // A file read before that is gone under the roots read now: its day is read anew.
    for (const auto& [knownPath, known] : known_) {
        if (known.seen) continue;
        const std::string& path = knownPath;
        const bool underRoot = std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
            return path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
        });
        if (!underRoot) continue;
        const bool workbook = known.kind == kindName(Kind::workbook);
        Group& group = groups_[groupKey(known.switchName, known.day, workbook ? path : std::string())];
        group.switchName = known.switchName;
        group.day = known.day;
        group.workbook = workbook ? path : std::string();
        group.rebuild = true;
        group.known = true;
        Statement forget(database_, "DELETE FROM files WHERE path = ?1");
        forget.bind(1, path).run();
        failed_ = failed_ || forget.failed();
    }
}

void Indexer::loadGroup(CallBook& book, const Group& group) {
    Statement select(database_,
                     "SELECT id, call_key, call_id, account, caller, callee, category, type, route, file, line, flags,"
                     " text, occurrence, copies, conflicts, filed_count, filed_start, filed_end, filed_seconds,"
                     " filed_trunk FROM calls WHERE switch = ?1 AND day = ?2 ORDER BY id");
    select.bind(1, group.switchName).bind(2, group.day);
    std::unordered_map<long long, Call*> byId;
    while (select.step()) {
        auto call = std::make_unique<Call>();
        call->id = select.integer(0);
        call->key = select.text(1);
        call->callId = select.text(2);
        call->account = select.text(3);
        call->caller = select.text(4);
        call->callee = select.text(5);
        call->category = select.text(6);
        call->type = select.text(7);
        call->route = select.text(8);
        call->file = select.text(9);
        call->line = select.integer(10);
        call->flags = static_cast<int>(select.integer(11));
        call->impossibleStart = (call->flags & impossibleTime) != 0;
        call->text = select.text(12);
        call->occurrence = select.integer(13);
        call->copies = static_cast<int>(select.integer(14));
        call->conflicts = select.integer(15);
        call->filedCount = select.optionalInteger(16);
        call->filedStart = select.optionalText(17);
        call->filedEnd = select.optionalText(18);
        call->filedSeconds = select.optionalInteger(19);
        call->filedTrunk = select.optionalText(20);
        byId[call->id] = call.get();
        book.add(std::move(call));
    }
    failed_ = failed_ || select.failed();
    Statement legs(database_,
                   "SELECT legs.call, legs.start, legs.end, legs.seconds, legs.trunk, legs.rid FROM legs"
                   " JOIN calls ON calls.id = legs.call WHERE calls.switch = ?1 AND calls.day = ?2 ORDER BY legs.leg");
    legs.bind(1, group.switchName).bind(2, group.day);
    while (legs.step()) {
        const auto owner = byId.find(legs.integer(0));
        if (owner == byId.end()) continue;
        Leg leg;
        leg.start = legs.optionalText(1);
        leg.end = legs.optionalText(2);
        leg.seconds = legs.integer(3);
        leg.trunk = legs.text(4);
        leg.rid = legs.text(5);
        leg.number = legNumber(leg.rid);
        owner->second->legs.push_back(std::move(leg));
    }
    failed_ = failed_ || legs.failed();
    for (auto& call : book.calls())
        call->source = call->copies & textCopy ? 3 : call->copies & csvCopy ? 2 : call->legs.empty() ? 0 : 1;
}

void Indexer::writeCall(Call& call, const Group& group, bool replaceLegs) {
    Statement& insert = insertCall_;
    if (call.id) insert.bind(1, call.id);
    else insert.bindNull(1);
    insert.bind(2, group.switchName).bind(3, call.key).bind(4, call.callId).bind(5, call.account).bind(6, call.caller);
    insert.bind(7, call.callee).bind(8, call.legCount).bind(9, call.start).bind(10, call.end).bind(11, call.seconds);
    insert.bind(12, call.category).bind(13, call.type).bind(14, call.route).bind(15, call.trunk);
    insert.bind(16, call.day.empty() ? group.day : call.day);
    insert.bind(17, call.file).bind(18, call.line).bind(19, static_cast<long long>(call.flags));
    if (call.flags & unparsable) insert.bind(20, call.text);
    else insert.bindNull(20);
    insert.bind(21, call.occurrence).bind(22, static_cast<long long>(call.copies)).bind(23, call.conflicts);
    insert.bind(24, call.filedCount).bind(25, call.filedStart).bind(26, call.filedEnd).bind(27, call.filedSeconds);
    insert.bind(28, call.filedTrunk);
    insert.run();
    if (replaceLegs && call.id) deleteLegs_.bind(1, call.id).run();
    if (!call.id) call.id = sqlite3_last_insert_rowid(database_);
    long long number = 0;
    for (const Leg& leg : call.legs) {
        insertLeg_.bind(1, call.id).bind(2, ++number).bind(3, leg.start).bind(4, leg.end).bind(5, leg.seconds);
        insertLeg_.bind(6, leg.trunk).bind(7, leg.rid).run();
    }
}

// Legs of a call that began the day before join that call, which is
// indexed already (its day comes first: the one written last, or in the
// database); those that find none stay calls of their own.
void Indexer::carryToDayBefore(GroupWork& work, GroupWork* last) {
    const Group& group = *work.group;
    if (!group.workbook.empty()) return;
    const std::vector<Call*> continuations = work.book.continuations();
    const std::string before = dayBefore(group.day);
    if (continuations.empty() || before.empty()) return;
    Group loaded;
    CallBook loadedBook;
    const Group* previous = &loaded;
    CallBook* book = &loadedBook;
    if (last && last->group->workbook.empty() && last->group->switchName == group.switchName &&
        last->group->day == before) {
        previous = last->group;
        book = &last->book;
    } else {
        loaded.switchName = group.switchName;
        loaded.day = before;
        loadGroup(loadedBook, loaded);
    }
    std::set<Call*> joined;
    for (Call* continuation : continuations)
        if (Call* call = book->carry(*continuation)) joined.insert(call);
    if (joined.empty()) return;
    book->settle();
    for (Call* call : joined) writeCall(*call, *previous, true);
    touch(*previous);
}

void Indexer::writeGroup(GroupWork& work) {
    const Group& group = *work.group;
    touch(group);
    if (group.rebuild && group.known) {
        if (group.workbook.empty()) {
            Statement legs(database_,
                           "DELETE FROM legs WHERE call IN (SELECT id FROM calls WHERE switch = ?1 AND day = ?2)");
            legs.bind(1, group.switchName).bind(2, group.day).run();
            Statement calls(database_, "DELETE FROM calls WHERE switch = ?1 AND day = ?2");
            calls.bind(1, group.switchName).bind(2, group.day).run();
            failed_ = failed_ || legs.failed() || calls.failed();
        } else {
            // A workbook's rows lie in its month.
            const std::string month = group.day.substr(0, 8);
            const std::string after = month.substr(0, 7) + ".";
            Statement calls(database_,
                            "DELETE FROM calls WHERE switch = '' AND day >= ?2 AND day < ?3 AND file = ?1");
            calls.bind(1, group.workbook).bind(2, month).bind(3, after).run();
            failed_ = failed_ || calls.failed();
        }
    }
    for (auto& call : work.book.calls())
        if (!call->carried) writeCall(*call, group, group.joinsIndexed());
    for (const GroupWork::FileRead& file : work.files) {
        const FoundFile& found = *file.found;
        saveFile_.bind(1, found.path).bind(2, kindName(found.kind)).bind(3, found.switchName).bind(4, found.day);
        saveFile_.bind(5, found.err ? 1LL : 0LL).bind(6, file.size).bind(7, found.mtime).bind(8, file.hash);
        saveFile_.bind(9, file.lines).run();
    }
    for (const FoundFile* found : work.unreadable) {
        Statement forget(database_, "DELETE FROM files WHERE path = ?1");
        forget.bind(1, found->path).run();
        failed_ = failed_ || forget.failed();
    }
    report_.filesRead += work.filesRead;
    report_.unparsableLines += work.unparsableLines;
}

Status Indexer::index(const std::vector<FoundFile>& found, const std::vector<std::string>& roots) {
    if (!ready()) return databaseError(database_, "prepare");
    loadKnownFiles();
    plan(found, roots);
    std::vector<Group*> pending, ahead;
    for (auto& [key, group] : groups_)
        if (group.needsWork()) {
            pending.push_back(&group);
            if (!group.joinsIndexed()) ahead.push_back(&group);
        }
    // Groups that need nothing from the database are read ahead while
    // this thread writes; those that join indexed calls wait their turn.
    Reader reader(ahead);
    std::unique_ptr<GroupWork> last;  // kept for the legs the next day holds
    for (Group* group : pending) {
        std::unique_ptr<GroupWork> work;
        if (group->joinsIndexed()) {
            work = std::make_unique<GroupWork>();
            work->group = group;
            loadGroup(work->book, *group);
            readGroup(*work);
        } else {
            work = reader.next();
        }
        carryToDayBefore(*work, last.get());
        writeGroup(*work);
        if (failed()) return databaseError(database_, "write");
        if (last && !last->group->joinsIndexed()) reader.recycle(std::move(last));
        last = std::move(work);
    }
    return {};
}

long long callCount(sqlite3* database) {
    Statement count(database, "SELECT count(*) FROM calls");
    return count.step() ? count.integer(0) : 0;
}

// What a database is, read before anything in it is changed.
struct Found {
    long long application = 0, version = 0;
    int quelvarTables = 0;  // of files, calls and legs
    int otherObjects = 0;   // tables, indexes, views, triggers besides
};

Status look(sqlite3* database, Found& found) {
    Statement application(database, "PRAGMA application_id");
    if (application.step()) found.application = application.integer(0);
    application.run();
    if (application.failed()) return application.status();
    Statement version(database, "PRAGMA user_version");
    if (version.step()) found.version = version.integer(0);
    version.run();
    if (version.failed()) return version.status();
    Statement objects(database,
                      "SELECT sum(type = 'table' AND name IN ('files', 'calls', 'legs')), "
                      "sum(NOT (type = 'table' AND name IN ('files', 'calls', 'legs'))) FROM sqlite_master "
                      "WHERE name NOT LIKE 'sqlite_%'");
    if (objects.step()) {
        found.quelvarTables = static_cast<int>(objects.integer(0));
        found.otherObjects = static_cast<int>(objects.integer(1));
    }
    objects.run();
    return objects.status();
}

// Why the database is not an index that `index` may change; '' when it is.
std::string notAnIndex(const Found& found) {
    if (found.application == applicationId) return {};
    if (found.application != 0) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08llX", found.application & 0xFFFFFFFFLL);
        return std::string("its application_id is ") + id;
    }
    if (found.version == 0 && found.quelvarTables == 0 && found.otherObjects == 0) return {};  // empty: made an index
    if (found.version != 0 && found.quelvarTables == 3) return {};  // an index made before the id was set
    return "it holds tables of its own";
}

Status prepareSchema(sqlite3* database) {
    const char* file = sqlite3_db_filename(database, "main");
    if (Status begun = execute(database, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
    Found found;
    Status result = look(database, found);
    if (result.ok())
        if (const std::string why = notAnIndex(found); !why.empty())
            result = Status::error(Status::Code::unsupported, "index", file ? file : "",
                                   "not a Quelvar index (" + why + "): left as it is; name another file with --db");
    if (result.ok() && found.version != 0 && found.version != schemaVersion)
        result = execute(database,
                         "DROP TABLE IF EXISTS legs; DROP TABLE IF EXISTS calls; DROP TABLE IF EXISTS files;"
                         " DROP TABLE IF EXISTS day_numbers; DROP TABLE IF EXISTS day_lines;"
                         " DROP TABLE IF EXISTS day_files; DROP TABLE IF EXISTS cost_files;"
                         " DROP TABLE IF EXISTS day_costs; DROP TABLE IF EXISTS unrated_calls;"
                         " DROP TABLE IF EXISTS month_costs;");
    if (result.ok()) result = execute(database, schemaSql);
    if (result.ok())
        result = execute(database, ("PRAGMA application_id = " + std::to_string(applicationId)).c_str());
    if (!result.ok()) {
        static_cast<void>(execute(database, "ROLLBACK"));
        return result;
    }
    return execute(database, "COMMIT");
}

void noFolders(Settings&) {}

// The figures of the switches' days `touched` made anew from their calls,
// and their costs forgotten.
Status refreshFigures(sqlite3* database, const std::set<std::pair<std::string, std::string>>& touched) {
    const std::string calls = std::string(" FROM calls WHERE switch = ?1 AND day = ?2 AND ") + notCalls;
    const std::string day = std::string("substr(") + when + ", 1, 10)";
    const std::string incoming = "type IN ('IN', 'FI')";
    std::vector<std::unique_ptr<Statement>> statements;
    for (const std::string& sql : {
             std::string("DELETE FROM day_numbers WHERE switch = ?1 AND filed = ?2"),
             "INSERT INTO day_numbers(day, switch, filed, caller, account, category, incoming, calls, seconds,"
             " longest) SELECT " + day + ", switch, day, caller, account, category, " + incoming +
                 ", count(*), sum(seconds), max(seconds)" + calls + " GROUP BY 1, 4, 5, 6, 7",
             std::string("DELETE FROM day_lines WHERE switch = ?1 AND filed = ?2"),
             "INSERT INTO day_lines(day, switch, filed, trunk, route, category, incoming, calls, seconds, longest)"
             " SELECT " + day + ", switch, day, trunk, route, category, " + incoming +
                 ", count(*), sum(seconds), max(seconds)" + calls + " GROUP BY 1, 4, 5, 6, 7",
             std::string("DELETE FROM day_files WHERE switch = ?1 AND filed = ?2"),
             "INSERT INTO day_files(switch, filed, first_day, last_day, calls) SELECT switch, day, min(" + day +
                 "), max(" + day + "), count(*)" + calls + " GROUP BY switch, day",
             std::string("DELETE FROM cost_files WHERE switch = ?1 AND filed = ?2"),
             std::string(monthCostsLess), std::string(monthCostsEmptied),
             std::string("DELETE FROM day_costs WHERE switch = ?1 AND filed = ?2"),
             std::string("DELETE FROM unrated_calls WHERE switch = ?1 AND filed = ?2")}) {
        statements.push_back(std::make_unique<Statement>(database, sql));
        if (!statements.back()->ready()) return statements.back()->status();
    }
    // Day after day, so that the pages of a day's calls are read into the cache once for all its switches.
    std::vector<std::pair<std::string, std::string>> days(touched.begin(), touched.end());
    std::stable_sort(days.begin(), days.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [switchName, filed] : days)
        for (const auto& statement : statements) {
            statement->bind(1, switchName).bind(2, filed).run();
            if (statement->failed()) return statement->status();
        }
    return {};
}

}  // namespace

std::vector<std::string> defaultRoots(const std::string& programFolder) {
    std::vector<std::string> roots{programFolder};
    std::string contents;
    if (readSettingsFile(programFolder + "/Quelvar.ini", contents, nullptr).ok()) {
        Settings settings;
        // Only read: the tool never makes a folder or file in the collector's tree.
        applySettingsText(contents, settings, noFolders);
        if (!settings.dataRoot.empty()) {
            std::string root = toAnsi(settings.dataRoot);
            if (!root.empty() && root.front() != '/') root = programFolder + "/" + root;
            roots.push_back(root);
        }
    }
    roots.push_back(programFolder + "/rec");
    std::vector<std::string> present;
    for (const std::string& root : roots) {
        struct stat info {};
        if (stat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) present.push_back(root);
    }
    return present;
}

Status rebuildFigures(sqlite3* database) {
    static_cast<void>(execute(database, "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY"));
    if (Status begun = execute(database, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
    Status rebuilt = execute(database, "DELETE FROM day_numbers; DELETE FROM day_lines; DELETE FROM day_files;"
                                       " DELETE FROM cost_files; DELETE FROM day_costs; DELETE FROM unrated_calls;"
                                       " DELETE FROM month_costs");
    std::set<std::pair<std::string, std::string>> all;
    if (rebuilt.ok()) {
        Statement days(database, "SELECT DISTINCT switch, day FROM calls");
        while (days.step()) all.emplace(days.text(0), days.text(1));
        rebuilt = days.status();
    }
    if (rebuilt.ok()) rebuilt = refreshFigures(database, all);
    if (!rebuilt.ok()) {
        static_cast<void>(execute(database, "ROLLBACK"));
        return rebuilt;
    }
    return execute(database, "COMMIT");
}

Status updateIndex(sqlite3* database, const std::vector<std::string>& roots, IndexReport& report) {
    report = IndexReport{};
    std::vector<std::string> absolute;
    Walk walk;
    for (const std::string& root : roots) {
        struct stat info {};
        if (stat(root.c_str(), &info) != 0)
            return Status::error(Status::Code::notFound, "read root", root, std::strerror(errno));
        if (!S_ISDIR(info.st_mode)) return Status::error(Status::Code::failed, "read root", root, "not a folder");
        DIR* folder = opendir(root.c_str());
        if (!folder) return Status::error(Status::Code::failed, "read root", root, std::strerror(errno));
        closedir(folder);
        char* resolved = realpath(root.c_str(), nullptr);
        const std::string path = resolved ? resolved : root;
        std::free(resolved);
        absolute.push_back(path);
        if (!walk.folders.insert({info.st_dev, info.st_ino}).second) continue;
        std::vector<std::string> names;
        walkFolder(walk, path, names);
    }
    report.filesSeen = static_cast<long>(walk.found.size());

    if (Status prepared = prepareSchema(database); !prepared.ok()) return prepared;
    static_cast<void>(execute(database, "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -65536;"
                                        " PRAGMA temp_store = MEMORY"));
    if (Status begun = execute(database, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
    const long long before = callCount(database);
    // Into an empty index the rows go faster without the searches' indexes,
    // made once at the end.
    if (before == 0)
        static_cast<void>(
            execute(database, "DROP INDEX IF EXISTS calls_by_start; DROP INDEX IF EXISTS calls_by_switch_day"));
    Status indexed;
    std::set<std::pair<std::string, std::string>> touched;
    {
        Indexer indexer(database, report);
        indexed = indexer.index(walk.found, absolute);
        touched = indexer.touched();
    }
    if (indexed.ok() && before == 0) indexed = execute(database, schemaSql);
    if (indexed.ok()) indexed = refreshFigures(database, touched);
    if (!indexed.ok()) {
        static_cast<void>(execute(database, "ROLLBACK"));
        return indexed;
    }
    report.callsAdded = callCount(database) - before;
    return execute(database, "COMMIT");
}

namespace {

// Whether the file at `path` may be replaced by a new index: it is missing or
// empty, or an SQLite database that is an index or too damaged to tell.
Status replaceable(const std::string& path) {
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) {
        if (errno == ENOENT) return {};
        return Status::error(Status::Code::failed, "read", path, std::strerror(errno));
    }
    unsigned char header[100] = {};
    const ssize_t got = read(handle, header, sizeof header);
    close(handle);
    if (got == 0) return {};
    const auto refused = [&](const std::string& why) {
        return Status::error(Status::Code::unsupported, "rebuild", path,
                             "not a Quelvar index (" + why + "): left as it is; name another file with --db");
    };
    if (got < 16 || std::memcmp(header, "SQLite format 3", 16) != 0)
        return Status::error(Status::Code::unsupported, "rebuild", path,
                             "not an SQLite database at all: left as it is (if it is the index, remove it and run "
                             "`quelvar-report index`)");
    const long long application = got < 72 ? 0
                                           : (static_cast<long long>(header[68]) << 24 | header[69] << 16 |
                                              header[70] << 8 | header[71]);
    if (application == applicationId) return {};
    sqlite3* database = nullptr;
    Found found;
    Status read;
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) read = look(database, found);
    sqlite3_close(database);
    if (!read.ok()) return {};  // damaged: what rebuilding is for
    const std::string why = notAnIndex(found);
    return why.empty() ? Status{} : refused(why);
}

// The alerts raised so far, taken over from the index being replaced: they
// are the one thing the record files cannot give again. From an index too
// damaged to give them the rebuild goes on without them: it is what a
// damaged index needs, and they are lost either way.
Status keepAlerts(sqlite3* database, const std::string& oldPath) {
    Statement attach(database, "ATTACH DATABASE ? AS old");
    attach.bind(1, oldPath).run();
    if (attach.failed()) return attach.status();
    Status kept = execute(database, "BEGIN IMMEDIATE");
    for (const auto& [table, columns] : keptTables) {
        if (!kept.ok()) break;
        Statement there(database, "SELECT count(*) FROM old.sqlite_master WHERE type = 'table' AND name = ?");
        there.bind(1, table);
        const bool found = there.step() && there.integer(0) > 0;
        there.run();
        if (there.failed()) {
            kept = there.status();
            break;
        }
        if (found)
            kept = execute(database, (std::string("INSERT OR IGNORE INTO main.") + table + "(" + columns + ") SELECT " +
                                      columns + " FROM old." + table)
                                         .c_str());
    }
    kept = kept.ok() ? execute(database, "COMMIT") : (static_cast<void>(execute(database, "ROLLBACK")), kept);
    static_cast<void>(execute(database, "DETACH DATABASE old"));
    return kept;
}

}  // namespace

Status rebuildIndex(const std::string& named, const std::vector<std::string>& roots, IndexReport& report) {
    // The file itself, where the name is a link to it; the new one keeps its mode.
    char* resolved = realpath(named.c_str(), nullptr);
    const std::string path = resolved ? resolved : named;
    std::free(resolved);
    struct stat old {};
    const bool existed = stat(path.c_str(), &old) == 0;
    if (Status checked = replaceable(path); !checked.ok()) return checked;
    // A new file of a name of its own: nothing planted there is written through.
    std::string fresh;
    for (unsigned attempt = 0; fresh.empty(); ++attempt) {
        if (attempt == 16)
            return Status::error(Status::Code::exists, "rebuild", path, "no new name beside it for the new index");
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".rebuild.%d.%u", static_cast<int>(getpid()), attempt);
        const int handle = ::open((path + suffix).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (handle >= 0) {
            if (existed) static_cast<void>(fchmod(handle, old.st_mode & 07777));
            close(handle);
            fresh = path + suffix;
        } else if (errno != EEXIST) {
            return Status::error(Status::Code::failed, "rebuild", path + suffix, std::strerror(errno));
        }
    }
    const auto removeFresh = [&] {
        for (const char* end : {"", "-journal", "-wal", "-shm"}) std::remove((fresh + end).c_str());
    };
    sqlite3* database = nullptr;
    Status built;
    if (sqlite3_open_v2(fresh.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        built = Status::error(Status::Code::failed, "rebuild", fresh, database ? sqlite3_errmsg(database) : "out of memory");
    if (built.ok()) built = updateIndex(database, roots, report);
    if (built.ok() && existed)
        if (const Status kept = keepAlerts(database, path); !kept.ok())
            report.alertsLost = "the alerts raised before could not be read from the old index (" + kept.reason() +
                                "): one still open may be told again";
    if (sqlite3_close(database) != SQLITE_OK && built.ok())
        built = Status::error(Status::Code::failed, "rebuild", fresh, "the new index could not be closed");
    if (!built.ok()) {
        removeFresh();
        return built;
    }
    // A journal left by the damaged index would be played into the new one.
    for (const char* end : {"-journal", "-wal", "-shm"}) std::remove((path + end).c_str());
    if (std::rename(fresh.c_str(), path.c_str()) != 0) {
        const int error = errno;
        removeFresh();
        return Status::error(Status::Code::failed, "rebuild", path, std::strerror(error));
    }
    return {};
}

}  // namespace quelvar::report
