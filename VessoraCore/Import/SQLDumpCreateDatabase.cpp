#include "VessoraCore/Import/SQLDumpCreateDatabase.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Process/LogText.hpp"

#include <initializer_list>
#include <vector>

namespace vessora::SQLDumpCreateDatabase {

namespace {

enum class Kind { word, name, text, equals, other };

struct Lexeme {
    Kind kind;
    std::string text; // a `name` unquoted, anything else as written
    bool executable;  // inside "/*!" or "/*M!"
};

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool endsWord(char c) {
    return isBlank(c) || std::string_view("();/=`'\"#*,").find(c) != std::string_view::npos;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The sandbox line is a plain comment to the client, as it is to the
// splitter: version 999999, ASCII spaces, then "\-".
bool isSandboxLine(std::string_view content) {
    if (content.size() < 6 || content.substr(0, 6) != "999999" ||
        (content.size() > 6 && isDigit(content[6])))
        return false;
    std::size_t next = 6;
    while (next < content.size() && isAsciiSpace(content[next]))
        ++next;
    return content.substr(next).starts_with("\\-");
}

// The statement's lexemes, or nothing when a quote or comment is left open.
// Inside an executable comment quotes and plain comments are read as
// outside, so a quoted "*/" does not end it.
std::optional<std::vector<Lexeme>> lexemes(std::string_view bytes) {
    std::vector<Lexeme> out;
    bool executable = false;
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    while (i < size) {
        const char c = bytes[i];
        const char n = i + 1 < size ? bytes[i + 1] : '\0';
        if (isBlank(c)) {
            ++i;
        } else if (c == '#' || (c == '-' && n == '-' && i + 2 < size && isBlank(bytes[i + 2]))) {
            const std::size_t lineFeed = bytes.find('\n', i);
            i = lineFeed == std::string_view::npos ? size : lineFeed + 1;
        } else if (c == '/' && n == '*') {
            std::size_t content = i + 2;
            if (content < size && bytes[content] == '!')
                content += 1;
            else if (bytes.substr(content).starts_with("M!"))
                content += 2;
            if (content != i + 2 && !isSandboxLine(bytes.substr(content))) {
                executable = true;
                while (content < size && isDigit(bytes[content]))
                    ++content;
                i = content;
                continue;
            }
            const std::size_t close = bytes.find("*/", i + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            i = close + 2;
        } else if (c == '*' && n == '/' && executable) {
            executable = false;
            i += 2;
        } else if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            for (;;) {
                if (j >= size)
                    return std::nullopt;
                if (bytes[j] == '\\') {
                    j += 2;
                } else if (bytes[j] == c) {
                    if (j + 1 < size && bytes[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                } else {
                    ++j;
                }
            }
            out.push_back({Kind::text, LogText::replacingInvalidUTF8(bytes.substr(i, j + 1 - i)),
                           executable});
            i = j + 1;
        } else if (c == '`') {
            std::string name;
            std::size_t j = i + 1;
            for (;;) {
                if (j >= size)
                    return std::nullopt;
                if (bytes[j] == '`') {
                    if (j + 1 < size && bytes[j + 1] == '`') {
                        name += '`';
                        j += 2;
                        continue;
                    }
                    break;
                }
                name += bytes[j++];
            }
            out.push_back({Kind::name, LogText::replacingInvalidUTF8(name), executable});
            i = j + 1;
        } else if (c == '=') {
            out.push_back({Kind::equals, "=", executable});
            ++i;
        } else {
            std::size_t j = i;
            while (j < size && !endsWord(bytes[j]))
                ++j;
            if (j == i) {
                out.push_back({Kind::other, std::string(1, c), executable});
                ++i;
                continue;
            }
            out.push_back(
                {Kind::word, LogText::replacingInvalidUTF8(bytes.substr(i, j - i)), executable});
            i = j;
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

    // Takes the next lexemes when they are the keywords `words`.
    bool take(std::initializer_list<std::string_view> words) {
        std::size_t next = at_;
        for (const std::string_view word : words) {
            if (next >= lexemes_.size() || lexemes_[next].kind != Kind::word ||
                UnicodeText::uppercased(lexemes_[next].text) != word)
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
    std::optional<std::string> takeValue(bool textOnly = false) {
        if (atEnd())
            return std::nullopt;
        const Lexeme& next = lexemes_[at_];
        if (next.kind != Kind::text &&
            (textOnly || (next.kind != Kind::word && next.kind != Kind::name)))
            return std::nullopt;
        ++at_;
        return next.text;
    }

    // The rest without what executable comments hold.
    Reader restOutsideExecutable() const {
        std::vector<Lexeme> rest;
        for (std::size_t k = at_; k < lexemes_.size(); ++k) {
            if (!lexemes_[k].executable)
                rest.push_back(lexemes_[k]);
        }
        return Reader(std::move(rest));
    }

private:
    std::vector<Lexeme> lexemes_;
    std::size_t at_ = 0;
};

// One clause after the name.
bool takeClause(Reader& reader) {
    const bool defaulted = reader.take({"DEFAULT"});
    bool comment = false;
    if (!reader.take({"CHARACTER", "SET"}) && !reader.take({"CHAR", "SET"}) &&
        !reader.take({"CHARSET"}) && !reader.take({"COLLATE"})) {
        comment = !defaulted && reader.take({"COMMENT"});
        if (!comment)
            return false;
    }
    reader.takeEquals();
    return reader.takeValue(comment).has_value();
}

} // namespace

std::optional<std::string> name(std::string_view statement) {
    std::optional<std::vector<Lexeme>> all = lexemes(statement);
    if (!all)
        return std::nullopt;
    Reader reader(std::move(*all));
    if (!reader.take({"CREATE", "DATABASE"}) && !reader.take({"CREATE", "SCHEMA"}))
        return std::nullopt;
    // A database may be called "if".
    reader.take({"IF", "NOT", "EXISTS"});
    std::optional<std::string> named = reader.takeValue();
    if (!named)
        return std::nullopt;
    Reader clauses = reader.restOutsideExecutable();
    while (!clauses.atEnd()) {
        if (!takeClause(clauses))
            return std::nullopt;
    }
    return named;
}

} // namespace vessora::SQLDumpCreateDatabase
