#pragma once
// Who is behind an extension: directory.csv, kept by the site.
//
//   switch,number,name,department,valid_from,id
//   *,8001,张伟,财务部,,E1024
//   00-1A-2B-3C-4D-5E,8001,李娜,销售部,2026-03-01,
//
// switch is the switch's MAC folder (or its MAC with colons), or * for any
// switch; number an extension or an account; valid_from YYYY-MM-DD, or empty
// for always. Someone who moves gets a new line from the day of the move: a
// call is put down to the line with the latest valid_from on or before its
// day, a line for its own switch before one for *.
//
// A person is an entry, not a name: the lines of one switch and number with
// the same name are one person, two namesakes are two. The optional id
// column (an employee number, after the others) says who a line is where it
// is given: lines with the same id are one person, whatever their numbers.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/reading/csv_file.h"

namespace quelvar::report {

struct Person {
    std::string name;
    std::string department;
    std::string id;      // as given; '' when not
    std::string number;  // the line's number
    std::string key;     // who it is: the same for every line of one person
};

class Directory {
public:
    // An empty directory knows nobody.
    Directory() = default;
    // Reads a directory file; a failure names the file and line.
    static Status read(const std::string& path, Directory& directory);
    static Status fromRows(const std::string& path, const std::vector<CsvRow>& rows, Directory& directory);

    // The person behind `number` on `switchFolder` on `day` (YYYY-MM-DD), or
    // nullptr. `dated`, when given, tells whether another day could have
    // given another answer.
    const Person* find(const std::string& switchFolder, const std::string& number, const std::string& day,
                       bool* dated = nullptr) const;
    // Who made a call: the person of its account, which names whoever
    // dialled it wherever from, else the person of its calling extension.
    const Person* findCaller(const std::string& switchFolder, const std::string& account, const std::string& caller,
                             const std::string& day, bool* dated = nullptr) const;
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::string validFrom;  // '' for always: before every date
        Person person;
    };
    // (switch folder in upper case or "*", number) -> entries, by validFrom.
    std::map<std::pair<std::string, std::string>, std::vector<Entry>> entries_;
};

// A switch as given (00:1a:2b:3c:4d:5e) as its folder is named, letters in
// upper case, for comparing.
std::string switchKey(std::string mac);

}  // namespace quelvar::report
