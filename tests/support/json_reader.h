#pragma once
// A strict reader of JSON for tests: what a program printed is taken apart
// here, independently of the code that wrote it.
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::test {

struct Json {
    enum class Type { null, boolean, number, string, array, object } type = Type::null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;  // in the order written

    bool has(std::string_view key) const {
        for (const auto& member : members)
            if (member.first == key) return true;
        return false;
    }
    // The member, or null when there is none.
    const Json& operator[](std::string_view key) const {
        for (const auto& member : members)
            if (member.first == key) return member.second;
        static const Json none;
        return none;
    }
    const Json& operator[](std::size_t index) const {
        static const Json none;
        return index < items.size() ? items[index] : none;
    }
    std::size_t size() const { return type == Type::array ? items.size() : members.size(); }
    long long integer() const { return static_cast<long long>(number); }
    std::vector<std::string> keys() const {
        std::vector<std::string> names;
        for (const auto& member : members) names.push_back(member.first);
        return names;
    }
};

class JsonReader {
public:
    // The one value the text holds (white space around it allowed), or
    // nothing when it is not exactly one valid JSON value.
    static std::optional<Json> read(std::string_view text) {
        JsonReader reader(text);
        Json value;
        if (!reader.value(value, 0)) return std::nullopt;
        reader.space();
        if (reader.at_ != text.size()) return std::nullopt;
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : text_(text) {}

    void space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool value(Json& out, int depth) {
        if (depth > 64) return false;
        space();
        if (at_ >= text_.size()) return false;
        const char c = text_[at_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') return out.type = Json::Type::string, string(out.string);
        if (literal("null")) return out.type = Json::Type::null, true;
        if (literal("true")) return out.type = Json::Type::boolean, out.boolean = true, true;
        if (literal("false")) return out.type = Json::Type::boolean, out.boolean = false, true;
        return numberValue(out);
    }
    bool numberValue(Json& out) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const std::size_t digits = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        if (at_ == digits || (text_[digits] == '0' && at_ - digits > 1)) return false;
        if (at_ < text_.size() && text_[at_] == '.') {
            const std::size_t fraction = ++at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            if (at_ == fraction) return false;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            const std::size_t exponent = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            if (at_ == exponent) return false;
        }
        out.type = Json::Type::number;
        out.number = std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
        return true;
    }
    static void appendUtf8(std::string& out, unsigned c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    bool hex4(unsigned& value) {
        if (at_ + 4 > text_.size()) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
            else return false;
        }
        return true;
    }
    bool string(std::string& out) {
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;  // control characters must be escaped
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char escape = text_[at_++];
            switch (escape) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    unsigned low = 0;
                    if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool array(Json& out, int depth) {
        out.type = Json::Type::array;
        ++at_;
        space();
        if (literal("]")) return true;
        for (;;) {
            Json item;
            if (!value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            space();
            if (literal("]")) return true;
            if (!literal(",")) return false;
        }
    }
    bool object(Json& out, int depth) {
        out.type = Json::Type::object;
        ++at_;
        space();
        if (literal("}")) return true;
        for (;;) {
            space();
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !string(key)) return false;
            space();
            if (!literal(":")) return false;
            Json item;
            if (!value(item, depth + 1)) return false;
            out.members.emplace_back(std::move(key), std::move(item));
            space();
            if (literal("}")) return true;
            if (!literal(",")) return false;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace quelvar::test
