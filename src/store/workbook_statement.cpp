#include "store/workbook_statement.h"

#include <cwctype>

namespace quelvar {

namespace {

class Scanner {
public:
    explicit Scanner(std::wstring_view text) : text_(text) {}

    void skipSpace() {
        while (position_ < text_.size() && std::iswspace(static_cast<wint_t>(text_[position_]))) ++position_;
    }

    bool keyword(std::wstring_view word) {
        skipSpace();
        if (text_.size() - position_ < word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
            if (std::towupper(static_cast<wint_t>(text_[position_ + i])) != static_cast<wint_t>(word[i])) return false;
        const std::size_t after = position_ + word.size();
        if (after < text_.size() && isNameCharacter(text_[after])) return false;
        position_ = after;
        return true;
    }

    bool symbol(wchar_t c) {
        skipSpace();
        if (position_ == text_.size() || text_[position_] != c) return false;
        ++position_;
        return true;
    }

    bool name(std::wstring& result) {
        skipSpace();
        result.clear();
        if (symbol(L'"')) return quoted(L'"', result);
        while (position_ < text_.size() && isNameCharacter(text_[position_])) result.push_back(text_[position_++]);
        return !result.empty();
    }

    bool value(std::wstring& result) {
        result.clear();
        return symbol(L'\'') && quoted(L'\'', result);
    }

    bool atEnd() {
        symbol(L';');
        skipSpace();
        return position_ == text_.size();
    }

private:
    static bool isNameCharacter(wchar_t c) { return c == L'_' || c > 0x7F || std::iswalnum(static_cast<wint_t>(c)); }

    // After the opening quote: up to the closing one, a doubled quote standing for itself.
    bool quoted(wchar_t quote, std::wstring& result) {
        while (position_ < text_.size()) {
            const wchar_t c = text_[position_++];
            if (c != quote) {
                result.push_back(c);
            } else if (position_ < text_.size() && text_[position_] == quote) {
                result.push_back(quote);
                ++position_;
            } else {
                return true;
            }
        }
        return false;
    }

    std::wstring_view text_;
    std::size_t position_ = 0;
};

// "(" item { "," item } ")"
template <class Item>
bool list(Scanner& scanner, Item item) {
    if (!scanner.symbol(L'(')) return false;
    do {
        if (!item()) return false;
    } while (scanner.symbol(L','));
    return scanner.symbol(L')');
}

}  // namespace

bool parseWorkbookStatement(std::wstring_view text, WorkbookStatement& statement) {
    Scanner scanner(text);
    statement = {};
    std::wstring item;
    const auto textColumn = [&] {
        if (!scanner.name(item) || !scanner.keyword(L"TEXT")) return false;
        statement.columns.push_back(item);
        return true;
    };
    const auto column = [&] {
        if (!scanner.name(item)) return false;
        statement.columns.push_back(item);
        return true;
    };
    const auto value = [&] {
        if (!scanner.value(item)) return false;
        statement.values.push_back(item);
        return true;
    };
    if (scanner.keyword(L"CREATE")) {
        statement.kind = WorkbookStatement::Kind::createSheet;
        return scanner.keyword(L"TABLE") && scanner.name(statement.sheet) && list(scanner, textColumn) &&
               scanner.atEnd();
    }
    if (scanner.keyword(L"INSERT")) {
        statement.kind = WorkbookStatement::Kind::insertRow;
        return scanner.keyword(L"INTO") && scanner.name(statement.sheet) && list(scanner, column) &&
               scanner.keyword(L"VALUES") && list(scanner, value) && scanner.atEnd();
    }
    return false;
}

}  // namespace quelvar
