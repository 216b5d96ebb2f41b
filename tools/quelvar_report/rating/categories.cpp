#include "quelvar_report/rating/categories.h"

#include <fstream>
#include <iterator>

#include "core/folders.h"
#include "core/settings.h"
#include "filing/classification.h"
#include "filing/special_numbers.h"

namespace quelvar::report {
namespace {

void noFolders(Settings&) {}

// UTF-8 as the collector's wide text; a byte that is no part of a character
// stays a character of its own.
std::wstring wide(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
        char32_t c = more == 0 ? lead : more == 1 ? lead & 0x1F : more == 2 ? lead & 0x0F : lead & 0x07;
        bool whole = more >= 0 && i + static_cast<std::size_t>(more) < text.size();
        for (int k = 1; whole && k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            whole = (next >> 6) == 2;
            c = (c << 6) | (next & 0x3F);
        }
        if (!whole) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(c));
        i += static_cast<std::size_t>(more) + 1;
    }
    return out;
}

std::string narrow(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) {
        const auto code = static_cast<char32_t>(c);
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace

CallCategories::CallCategories() : CallCategories(std::wstring(), std::string()) {}

CallCategories::CallCategories(std::wstring areaCode, std::string specialNumberFile)
    : classifier_(std::make_shared<Classifier>(std::move(areaCode), std::move(specialNumberFile))),
      known_(std::make_shared<std::unordered_map<std::string, std::string>>()) {}

CallCategories CallCategories::ofProgramFolder(const std::string& programFolder) {
    Settings settings;
    std::string contents;
    // Only read, as the collector reads it at start; no folder is made.
    if (readSettingsFile(pathIn(programFolder, "Quelvar.ini"), contents, nullptr).ok())
        applySettingsText(contents, settings, noFolders);
    return CallCategories(settings.areaCode, specialNumberFilePath(programFolder));
}

std::string CallCategories::sourceOf(const std::string& programFolder) {
    Settings settings;
    std::string contents;
    if (readSettingsFile(pathIn(programFolder, "Quelvar.ini"), contents, nullptr).ok())
        applySettingsText(contents, settings, noFolders);
    std::string source;
    for (const wchar_t c : settings.areaCode)
        source.append(std::to_string(static_cast<unsigned long>(c))).append(1, ',');
    source.append(1, '\0');
    std::ifstream tele(specialNumberFilePath(programFolder), std::ios::binary);
    if (tele) source.append(std::istreambuf_iterator<char>(tele), std::istreambuf_iterator<char>());
    return source;
}

bool CallCategories::filedByRule(std::string_view route, std::string_view type) {
    return route == "IC" || type == "IN" || type == "OU" || type == "LO";
}

const std::string& CallCategories::numberClassified(std::string_view type, const std::string& caller,
                                                    const std::string& callee) {
    return type == "FI" ? caller : callee;
}

CallCategories::Decision CallCategories::decide(std::string_view route, std::string_view type,
                                                const std::string& caller, const std::string& callee,
                                                const std::string& filed) const {
    if (filedByRule(route, type)) return Decision{filed, false, {}};
    const std::string& number = numberClassified(type, caller, callee);
    return Decision{ofNumber(number), true, number};
}

const std::string& CallCategories::ofNumber(const std::string& number) const {
    auto found = known_->find(number);
    if (found == known_->end())
        found = known_->emplace(number, narrow(classifier_->classifyNumber(wide(number)))).first;
    return found->second;
}

}  // namespace quelvar::report
