#include "VessoraCore/Import/SQLDumpDefiner.hpp"

#include <string>

namespace vessora::SQLDumpDefiner {

namespace {

bool isWordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || byte >= 0x80;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

enum class Kind { word, quoted, punctuation, end };

struct Token {
    Kind kind = Kind::end;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The head's tokens one by one; none (end) once the reading is not certain.
class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Token next() {
        for (;;) {
            if (at_ >= text_.size())
                return {};
            const char c = text_[at_];
            const char n = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
            if (isBlank(c)) {
                ++at_;
            } else if (c == '#' || (c == '-' && n == '-' &&
                                    (at_ + 2 >= text_.size() || isBlank(text_[at_ + 2])))) {
                const std::size_t lineFeed = text_.find('\n', at_);
                if (lineFeed == std::string_view::npos)
                    return {};
                at_ = lineFeed + 1;
            } else if (c == '/' && n == '*') {
                const std::string_view rest = text_.substr(at_ + 2);
                if (rest.starts_with("!") || rest.starts_with("M!")) {
                    if (executable_)
                        return {};
                    executable_ = true;
                    at_ += rest.starts_with("!") ? 3 : 4;
                    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
                        ++at_;
                } else {
                    const std::size_t close = text_.find("*/", at_ + 2);
                    if (close == std::string_view::npos)
                        return {};
                    at_ = close + 2;
                }
            } else if (c == '*' && n == '/' && executable_) {
                executable_ = false;
                at_ += 2;
            } else if (c == '\\') {
                return {};
            } else if (c == '`' || c == '\'' || c == '"') {
                std::size_t j = at_ + 1;
                for (;;) {
                    if (j >= text_.size() || text_[j] == '\\')
                        return {};
                    if (text_[j] == c) {
                        if (j + 1 < text_.size() && text_[j + 1] == c) {
                            j += 2;
                            continue;
                        }
                        break;
                    }
                    ++j;
                }
                const Token token{Kind::quoted, at_, j + 1};
                at_ = j + 1;
                return token;
            } else if (isWordByte(c)) {
                std::size_t j = at_;
                while (j < text_.size() && isWordByte(text_[j]))
                    ++j;
                const Token token{Kind::word, at_, j};
                at_ = j;
                return token;
            } else {
                const Token token{Kind::punctuation, at_, at_ + 1};
                ++at_;
                return token;
            }
        }
    }

    bool is(const Token& token, std::string_view word) const {
        if (token.kind != Kind::word || token.end - token.begin != word.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            char c = text_[token.begin + i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i])
                return false;
        }
        return true;
    }

    bool isPunctuation(const Token& token, char c) const {
        return token.kind == Kind::punctuation && text_[token.begin] == c;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    bool executable_ = false;
};

} // namespace

std::optional<Span> find(std::string_view head) {
    Lexer lexer(head);
    Token token = lexer.next();
    if (!lexer.is(token, "create"))
        return std::nullopt;
    token = lexer.next();
    if (lexer.is(token, "or")) {
        if (!lexer.is(lexer.next(), "replace"))
            return std::nullopt;
        token = lexer.next();
    }
    if (lexer.is(token, "algorithm")) {
        if (!lexer.isPunctuation(lexer.next(), '=') || lexer.next().kind != Kind::word)
            return std::nullopt;
        token = lexer.next();
    }
    if (!lexer.is(token, "definer"))
        return std::nullopt;
    const std::size_t begin = token.begin;
    if (!lexer.isPunctuation(lexer.next(), '='))
        return std::nullopt;
    const Token user = lexer.next();
    if (lexer.is(user, "current_user") || (user.kind != Kind::word && user.kind != Kind::quoted))
        return std::nullopt;
    if (!lexer.isPunctuation(lexer.next(), '@'))
        return std::nullopt;
    const Token host = lexer.next();
    if (host.kind != Kind::word && host.kind != Kind::quoted)
        return std::nullopt;
    // A word must follow, apart from the host: an unquoted host such as
    // 127.0.0.1 goes on past the lexeme read here.
    const Token after = lexer.next();
    if (after.kind != Kind::word || (host.kind == Kind::word && after.begin == host.end))
        return std::nullopt;
    return Span{begin, host.end};
}

void blank(char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (bytes[i] != '\n')
            bytes[i] = ' ';
}

} // namespace vessora::SQLDumpDefiner
