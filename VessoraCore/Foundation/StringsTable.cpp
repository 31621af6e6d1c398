#include "VessoraCore/Foundation/StringsTable.hpp"

#include <fstream>
#include <optional>
#include <sstream>

namespace vessora::StringsTable {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            position_ = 3;
    }

    bool atEnd() {
        skipBlanksAndComments();
        return position_ >= text_.size();
    }

    bool expect(char c) {
        skipBlanksAndComments();
        if (position_ < text_.size() && text_[position_] == c) {
            ++position_;
            return true;
        }
        return false;
    }

    std::optional<std::string> quoted() {
        skipBlanksAndComments();
        if (position_ >= text_.size() || text_[position_] != '"')
            return std::nullopt;
        ++position_;
        std::string out;
        while (position_ < text_.size()) {
            char c = text_[position_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (position_ >= text_.size())
                return std::nullopt;
            char e = text_[position_++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '0':
                out += '\0';
                break;
            case 'U':
            case 'u':
                if (!unicodeEscape(out))
                    return std::nullopt;
                break;
            default:
                out += e;
                break; // \" \\ \' and anything else stand for themselves
            }
        }
        return std::nullopt;
    }

private:
    void skipBlanksAndComments() {
        while (position_ < text_.size()) {
            char c = text_[position_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++position_;
            } else if (text_.substr(position_, 2) == "//") {
                auto end = text_.find('\n', position_);
                position_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (text_.substr(position_, 2) == "/*") {
                auto end = text_.find("*/", position_ + 2);
                position_ = end == std::string_view::npos ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    bool unicodeEscape(std::string& out) {
        if (position_ + 4 > text_.size())
            return false;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            char h = text_[position_++];
            value <<= 4;
            if (h >= '0' && h <= '9')
                value |= unsigned(h - '0');
            else if (h >= 'a' && h <= 'f')
                value |= unsigned(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                value |= unsigned(h - 'A' + 10);
            else
                return false;
        }
        appendUTF8(out, value);
        return true;
    }

    static void appendUTF8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

} // namespace

std::map<std::string, std::string> parse(std::string_view text) {
    std::map<std::string, std::string> table;
    Reader reader(text);
    while (!reader.atEnd()) {
        auto key = reader.quoted();
        if (!key || !reader.expect('='))
            break;
        auto value = reader.quoted();
        if (!value || !reader.expect(';'))
            break;
        table.insert_or_assign(*key, *value);
    }
    return table;
}

std::map<std::string, std::string> load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return parse(buffer.str());
}

} // namespace vessora::StringsTable
