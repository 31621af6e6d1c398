#include "VessoraCore/Import/SQLDumpDatabaseStatement.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"
#include "VessoraCore/Process/LogText.hpp"

#include <initializer_list>
#include <vector>

namespace vessora::SQLDumpDatabaseStatement {

namespace {

enum class Kind { word, name, text, equals, other };

struct Lexeme {
    Kind kind;
    std::string text; // a `name` unquoted, anything else as written
    std::size_t begin;
    std::size_t end;
};

bool isBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// What the server reads as part of an unquoted name or keyword.
bool isWordByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c >= 0x80;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The statement's lexemes, or nothing when a quote or comment is left open.
// The contents of executable comments are read as if written outside them.
std::optional<std::vector<Lexeme>> lexemes(std::string_view bytes, bool quotedNames) {
    std::vector<Lexeme> out;
    bool executable = false;
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    while (i < size) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const char n = i + 1 < size ? bytes[i + 1] : '\0';
        if (isBlank(c)) {
            ++i;
        } else if (c == '#' || SQLDumpTokens::opensDashComment(bytes, i)) {
            const std::size_t lineFeed = bytes.find('\n', i);
            i = lineFeed == std::string_view::npos ? size : lineFeed + 1;
        } else if (c == '/' && n == '*') {
            std::size_t content = i + 2;
            if (content < size && bytes[content] == '!')
                content += 1;
            else if (bytes.substr(content).starts_with("M!"))
                content += 2;
            std::size_t digits = content;
            while (digits < size && isDigit(bytes[digits]))
                ++digits;
            if (content != i + 2 && bytes.substr(content, digits - content) != "999999") {
                executable = true;
                i = digits;
                continue;
            }
            const std::size_t close = bytes.find("*/", i + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            i = close + 2;
        } else if (c == '*' && n == '/' && executable) {
            executable = false;
            i += 2;
        } else if (c == '\'' || (c == '"' && !quotedNames)) {
            std::size_t j = i + 1;
            for (;;) {
                if (j >= size)
                    return std::nullopt;
                if (bytes[j] == '\\') {
                    j += 2;
                } else if (bytes[j] == static_cast<char>(c)) {
                    if (j + 1 < size && bytes[j + 1] == static_cast<char>(c)) {
                        j += 2;
                        continue;
                    }
                    break;
                } else {
                    ++j;
                }
            }
            out.push_back(
                {Kind::text, LogText::replacingInvalidUTF8(bytes.substr(i, j + 1 - i)), i, j + 1});
            i = j + 1;
        } else if (c == '`' || c == '"') {
            std::string name;
            std::size_t j = i + 1;
            for (;;) {
                if (j >= size)
                    return std::nullopt;
                if (bytes[j] == static_cast<char>(c)) {
                    if (j + 1 < size && bytes[j + 1] == static_cast<char>(c)) {
                        name += static_cast<char>(c);
                        j += 2;
                        continue;
                    }
                    break;
                }
                name += bytes[j++];
            }
            out.push_back({Kind::name, LogText::replacingInvalidUTF8(name), i, j + 1});
            i = j + 1;
        } else if (c == '=') {
            out.push_back({Kind::equals, "=", i, i + 1});
            ++i;
        } else if (isWordByte(c)) {
            std::size_t j = i;
            while (j < size && isWordByte(static_cast<unsigned char>(bytes[j])))
                ++j;
            out.push_back(
                {Kind::word, LogText::replacingInvalidUTF8(bytes.substr(i, j - i)), i, j});
            i = j;
        } else {
            out.push_back({Kind::other, std::string(1, static_cast<char>(c)), i, i + 1});
            ++i;
        }
    }
    if (executable)
        return std::nullopt;
    return out;
}

class Reader {
public:
    explicit Reader(std::vector<Lexeme> lexemes) : lexemes_(std::move(lexemes)) {}

    bool atEnd() const { return at_ >= lexemes_.size(); }

    const Lexeme* peek() const { return atEnd() ? nullptr : &lexemes_[at_]; }

    // Takes the next lexemes when they are the keywords `words`.
    bool take(std::initializer_list<std::string_view> words) {
        std::size_t next = at_;
        for (const std::string_view word : words) {
            if (next >= lexemes_.size() || !isKeyword(lexemes_[next], word))
                return false;
            ++next;
        }
        at_ = next;
        return true;
    }

    bool takeEquals() {
        if (atEnd() || lexemes_[at_].kind != Kind::equals)
            return false;
        ++at_;
        return true;
    }

    // A name or value: a word, a `name` or a quoted text.
    const Lexeme* takeValue(bool textOnly = false) {
        if (atEnd())
            return nullptr;
        const Lexeme& next = lexemes_[at_];
        if (next.kind != Kind::text &&
            (textOnly || (next.kind != Kind::word && next.kind != Kind::name)))
            return nullptr;
        ++at_;
        return &next;
    }

    static bool isKeyword(const Lexeme& lexeme, std::string_view word) {
        return lexeme.kind == Kind::word && UnicodeText::uppercased(lexeme.text) == word;
    }

private:
    std::vector<Lexeme> lexemes_;
    std::size_t at_ = 0;
};

// 'Y' or 'N' in either quotes and letter case.
bool isEncryptionValue(const Lexeme& value) {
    if (value.text.size() != 3)
        return false;
    const char c = static_cast<char>(value.text[1] & ~0x20);
    return c == 'Y' || c == 'N';
}

// A value as the server reads it back: a `name` quoted again.
std::string written(const Lexeme& value) {
    if (value.kind != Kind::name)
        return value.text;
    std::string out = "`";
    for (const char c : value.text)
        out += c == '`' ? std::string("``") : std::string(1, c);
    return out + "`";
}

// One clause after the name; a character set or collation added to
// `defaults`.
bool takeClause(Reader& reader, std::string& defaults) {
    const bool defaulted = reader.take({"DEFAULT"});
    std::string_view keyword;
    if (reader.take({"CHARACTER", "SET"}) || reader.take({"CHAR", "SET"}) ||
        reader.take({"CHARSET"}))
        keyword = "CHARACTER SET ";
    else if (reader.take({"COLLATE"}))
        keyword = "COLLATE ";
    if (!keyword.empty()) {
        reader.takeEquals();
        const Lexeme* value = reader.takeValue();
        if (!value)
            return false;
        defaults += (defaults.empty() ? "" : " ") + std::string(keyword) + written(*value);
        return true;
    }
    if (reader.take({"ENCRYPTION"})) {
        reader.takeEquals();
        const Lexeme* value = reader.takeValue(true);
        return value && isEncryptionValue(*value);
    }
    if (!defaulted && reader.take({"COMMENT"})) {
        reader.takeEquals();
        return reader.takeValue(true) != nullptr;
    }
    return false;
}

bool takeDatabaseWord(Reader& reader) {
    return reader.take({"DATABASE"}) || reader.take({"SCHEMA"});
}

} // namespace

std::optional<std::string> created(std::string_view statement, bool quotedNames,
                                   std::string* defaults) {
    std::optional<std::vector<Lexeme>> all = lexemes(statement, quotedNames);
    if (!all)
        return std::nullopt;
    Reader reader(std::move(*all));
    if (!reader.take({"CREATE"}))
        return std::nullopt;
    reader.take({"OR", "REPLACE"});
    if (!takeDatabaseWord(reader))
        return std::nullopt;
    // A database may be called "if".
    reader.take({"IF", "NOT", "EXISTS"});
    const Lexeme* named = reader.takeValue();
    if (!named)
        return std::nullopt;
    std::string name = named->text;
    std::string clauses;
    while (!reader.atEnd()) {
        if (!takeClause(reader, clauses))
            return std::nullopt;
    }
    if (defaults)
        *defaults = std::move(clauses);
    return name;
}

Altered altered(std::string_view statement, bool quotedNames) {
    std::optional<std::vector<Lexeme>> all = lexemes(statement, quotedNames);
    if (!all)
        return {};
    Reader reader(std::move(*all));
    if (!reader.take({"ALTER"}) || !takeDatabaseWord(reader))
        return {};
    Altered result;
    result.readable = true;
    const Lexeme* next = reader.peek();
    if (!next)
        return result;
    for (const std::string_view clause : {"CHARACTER", "CHAR", "DEFAULT", "COLLATE", "COMMENT"}) {
        if (Reader::isKeyword(*next, clause))
            return result;
    }
    if (const Lexeme* name = reader.takeValue())
        result.named = Named{name->text, name->begin, name->end};
    return result;
}

} // namespace vessora::SQLDumpDatabaseStatement
