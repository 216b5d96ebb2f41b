#include "quelvar_report/rating/directory.h"

#include <algorithm>

#include "quelvar_report/reading/dates.h"

namespace quelvar::report {

std::string switchKey(std::string mac) {
    for (char& c : mac) {
        if (c == ':' || c == '/' || c == '\\') c = '-';
        else if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return mac;
}

Status Directory::read(const std::string& path, Directory& directory) {
    std::vector<CsvRow> rows;
    if (Status read = readCsvFile(path, rows); !read.ok()) return read;
    return fromRows(path, rows, directory);
}

Status Directory::fromRows(const std::string& path, const std::vector<CsvRow>& rows, Directory& directory) {
    if (Status header = checkHeader(path, rows, {"switch", "number", "name", "department", "valid_from"}); !header.ok())
        return header;
    // The id column may stand anywhere after the five that must be there.
    std::size_t idColumn = 0;
    for (std::size_t column = 5; column < rows.front().fields.size(); ++column)
        if (rows.front().fields[column] == "id") idColumn = column;
    Directory made;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const CsvRow& row = rows[i];
        const auto wrong = [&](const std::string& why) {
            return Status::error(Status::Code::damaged, "read", path, "line " + std::to_string(row.line) + ": " + why);
        };
        std::vector<std::string> fields = row.fields;
        fields.resize(std::max<std::size_t>(fields.size(), 5));
        const std::string& switchName = fields[0];
        const std::string& number = fields[1];
        const std::string& validFrom = fields[4];
        if (switchName.empty()) return wrong("no switch (a MAC, or * for any switch)");
        if (number.empty()) return wrong("no number");
        if (fields[2].empty()) return wrong("no name for " + number);
        long days = 0;
        if (!validFrom.empty() && !parseDate(validFrom, days))
            return wrong("bad valid_from " + validFrom + " (YYYY-MM-DD, or empty for always)");
        const std::string switchShown = switchName == "*" ? switchName : switchKey(switchName);
        auto& entries = made.entries_[{switchShown, number}];
        for (const Entry& entry : entries)
            if (entry.validFrom == validFrom)
                return wrong(number + " on " + switchName + " has two lines valid from " +
                             (validFrom.empty() ? std::string("always") : validFrom));
        const std::string id = idColumn && idColumn < fields.size() ? fields[idColumn] : std::string();
        std::string key = id.empty() ? switchShown + '\x1f' + number + '\x1f' + fields[2] : "id\x1f" + id;
        entries.push_back(Entry{validFrom, Person{fields[2], fields[3], id, number, std::move(key)}});
    }
    for (auto& [key, entries] : made.entries_)
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.validFrom < b.validFrom; });
    directory = std::move(made);
    return {};
}

const Person* Directory::find(const std::string& switchFolder, const std::string& number, const std::string& day,
                              bool* dated) const {
    if (dated) *dated = false;
    if (entries_.empty() || number.empty()) return nullptr;
    for (const std::string& switchName : {switchKey(switchFolder), std::string("*")}) {
        if (switchName.empty()) continue;
        const auto found = entries_.find({switchName, number});
        if (found == entries_.end()) continue;
        if (dated && (found->second.size() > 1 || !found->second.front().validFrom.empty())) *dated = true;
        const Entry* chosen = nullptr;
        for (const Entry& entry : found->second)
            if (entry.validFrom <= day) chosen = &entry;
        if (chosen) return &chosen->person;
    }
    return nullptr;
}

const Person* Directory::findCaller(const std::string& switchFolder, const std::string& account,
                                    const std::string& caller, const std::string& day, bool* dated) const {
    bool datedAccount = false, datedCaller = false;
    const Person* person = account.empty() ? nullptr : find(switchFolder, account, day, &datedAccount);
    if (!person) person = find(switchFolder, caller, day, &datedCaller);
    if (dated) *dated = datedAccount || datedCaller;
    return person;
}

}  // namespace quelvar::report
