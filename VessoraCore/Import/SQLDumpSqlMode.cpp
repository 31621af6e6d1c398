#include "VessoraCore/Import/SQLDumpSqlMode.hpp"

#include "VessoraCore/Import/SQLDumpClientText.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vessora {

namespace {

using Flag = SQLDumpSqlMode::Flag;
using Flags = SQLDumpSqlMode::Flags;

// The key of code made whose name could not be read: any statement may reach it.
const std::string unnamed = "*";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` is `word` (lower-case) in any ASCII letter case.
bool equalsLowered(std::string_view text, std::string_view word) {
    if (text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[i]) != word[i])
            return false;
    return true;
}

bool hasUpper(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

constexpr std::array<bool, 256> wordBytes = [] {
    std::array<bool, 256> is{};
    for (int c = 0; c < 256; ++c)
        is[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '$' || c >= 0x80;
    return is;
}();

bool isWordByte(char c) {
    return wordBytes[static_cast<unsigned char>(c)];
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `text` holds `name` (lower-case, beginning with a letter) anywhere,
// in any letter case.
bool mentions(std::string_view text, std::string_view name) {
    const char first[] = {name[0], static_cast<char>(name[0] - 'a' + 'A'), '\0'};
    for (std::size_t at = text.find_first_of(first); at != std::string_view::npos;
         at = text.find_first_of(first, at + 1)) {
        if (text.size() - at < name.size())
            return false;
        std::size_t k = 1;
        while (k < name.size() && lower(text[at + k]) == name[k])
            ++k;
        if (k == name.size())
            return true;
    }
    return false;
}

bool mentionsMode(std::string_view text) {
    return mentions(text, "sql_mode");
}

// Whether `text` may name the session's character set: NAMES, CHARACTER
// SET, CHARSET or character_set_client, in any letter case.
bool mentionsCharset(std::string_view text) {
    const auto holds = [&](std::size_t at, std::string_view name) {
        if (text.size() - at < name.size())
            return false;
        for (std::size_t k = 1; k < name.size(); ++k)
            if (lower(text[at + k]) != name[k])
                return false;
        return true;
    };
    for (std::size_t at = text.find_first_of("nNcC"); at != std::string_view::npos;
         at = text.find_first_of("nNcC", at + 1)) {
        if (lower(text[at]) == 'n' ? holds(at, "names")
                                   : holds(at, "charset") || holds(at, "character"))
            return true;
    }
    return false;
}

// Whether a code point's letter case folds the way the server folds user
// variable names: a simple pair (д/Д, ǅ/ǆ/Ǆ, ａ/Ａ) in the scripts whose
// mapping the server's tables and Unicode's agree on. Others (the Kelvin
// sign, final sigma, long s, dotted I, letters beyond the BMP) the server
// folds its own way.
bool foldsAlike(UChar32 c) {
    const bool script = (c >= 0xC0 && c <= 0x1FF) || (c >= 0x386 && c <= 0x3CE) ||
                        (c >= 0x400 && c <= 0x45F) || (c >= 0xFF21 && c <= 0xFF3A) ||
                        (c >= 0xFF41 && c <= 0xFF5A);
    if (!script)
        return false;
    const UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    return folded == u_tolower(c) && u_toupper(c) == u_toupper(folded);
}

// The user variables `text` names: "@" and a name, not "@@" and not the
// host of an account (right after its name). A quoted name, or one the key
// of which may not tell it apart as the server does, counts as any.
void references(std::string_view text, std::set<std::string>& names, bool& any) {
    for (std::size_t at = text.find('@'); at != std::string_view::npos;
         at = text.find('@', at + 1)) {
        if (at + 1 < text.size() && text[at + 1] == '@') {
            ++at;
            continue;
        }
        if (at > 0 && (isWordByte(text[at - 1]) || text[at - 1] == '`' || text[at - 1] == '\'' ||
                       text[at - 1] == '"'))
            continue;
        if (at + 1 < text.size() &&
            (text[at + 1] == '`' || text[at + 1] == '\'' || text[at + 1] == '"')) {
            any = true;
            return;
        }
        std::size_t end = at + 1;
        while (end < text.size() && (isWordByte(text[end]) || text[end] == '.'))
            ++end;
        const std::string_view name = text.substr(at + 1, end - at - 1);
        for (const char c : name) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                any = true;
                return;
            }
        }
        names.insert(lowered(name));
    }
}

// The server's reading of a statement's text, as far as the mode needs it:
// tokens outside comments, executable comments opened when the server runs
// them.
enum class Kind { word, string, name, system, user, punctuation };

struct Token {
    Kind kind;
    // A string's or name's contents; lower-cased for variables. It views the
    // statement's text, or a string its Lexed owns.
    std::string_view text;
};

// A statement's tokens, with the texts that are not its bytes as they stand
// (unescaped, lower-cased), each kept where it cannot move.
struct Lexed {
    std::vector<Token> tokens;
    std::vector<std::unique_ptr<std::string>> owned;

    std::string_view own(std::string text) {
        owned.push_back(std::make_unique<std::string>(std::move(text)));
        return *owned.back();
    }
};

// What a server of `release` does with an executable comment of `digits`:
// run its contents, skip them, or depends on the release (none). MariaDB
// skips the MySQL 5.7 and later gates of "/*!".
std::optional<bool> runsVersion(std::string_view digits, bool mariadb,
                                SQLDumpSqlMode::Release release) {
    if (digits.size() < 5)
        return true; // no version: always run, the digits are text
    long version = 0;
    for (const char digit : digits.substr(0, 6))
        version = version * 10 + (digit - '0');
    if (!mariadb && version >= 50700 && version <= 99999)
        return false;
    if (version <= release.lowest)
        return true;
    if (version > release.highest)
        return false;
    return std::nullopt;
}

// Steps over what the server skips at `i`: blanks, comments, the opening of
// an executable comment it runs and the close of one open. False when there
// is none; `unsure` where the reading is not certain (a version gate that
// depends on the release, a comment left open or nested).
bool skipIgnored(std::string_view text, std::size_t& i, bool& executable,
                 SQLDumpSqlMode::Release release, bool& unsure) {
    const std::size_t size = text.size();
    const char c = text[i];
    const char n = i + 1 < size ? text[i + 1] : '\0';
    if (SQLDumpClientText::isBlank(static_cast<unsigned char>(c))) {
        ++i;
    } else if (c == '#' || (c == '-' && SQLDumpTokens::opensDashComment(text, i))) {
        const std::size_t lineFeed = text.find('\n', i);
        i = lineFeed == std::string_view::npos ? size : lineFeed + 1;
    } else if (c == '/' && n == '*') {
        std::size_t content = i + 2;
        const bool mariadb = text.substr(content).starts_with("M!");
        if (text.substr(content).starts_with("!") || mariadb) {
            content += mariadb ? 2 : 1;
            std::size_t digits = content;
            while (digits < size && digits - content < 6 && isDigit(text[digits]))
                ++digits;
            const std::optional<bool> runs =
                runsVersion(text.substr(content, digits - content), mariadb, release);
            if (!runs || executable) {
                unsure = true;
                return false;
            }
            if (*runs) {
                executable = true;
                i = digits - content < 5 ? content : digits;
                return true;
            }
        }
        const std::size_t close = text.find("*/", i + 2);
        if (close == std::string_view::npos ||
            text.substr(i + 2, close - i - 2).find("/*") != std::string_view::npos) {
            unsure = true;
            return false;
        }
        i = close + 2;
    } else if (c == '*' && n == '/' && executable) {
        executable = false;
        i += 2;
    } else {
        return false;
    }
    return true;
}

// A quoted text opened at `at`: where its closing quote stands, and whether
// its contents hold a backslash escape or a doubled quote. None when it does
// not end within the text.
struct Quoted {
    std::size_t close;
    bool escaped = false;
    bool doubled = false;
};

std::optional<Quoted> quotedAt(std::string_view text, std::size_t at, bool backslashes) {
    const char quote = text[at];
    Quoted quoted{at + 1};
    for (std::size_t& j = quoted.close;;) {
        if (j >= text.size())
            return std::nullopt;
        if (text[j] == '\\' && backslashes) {
            quoted.escaped = true;
            j += 2;
        } else if (text[j] == quote && j + 1 < text.size() && text[j + 1] == quote) {
            quoted.doubled = true;
            j += 2;
        } else if (text[j] == quote) {
            return quoted;
        } else {
            ++j;
        }
    }
}

// A quoted text's contents as the server reads them.
std::string unquoted(std::string_view raw, char quote, bool backslashes) {
    std::string content;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        if ((raw[k] == '\\' && backslashes) || raw[k] == quote)
            ++k;
        content += raw[k];
    }
    return content;
}

// `strict`: the text of one SET, refused (none) where a quoted value holds
// a backslash, which no mode name does, or an executable comment stays
// open. Otherwise a piece of a longer text, whose quotes are skipped and
// whose executable comment may go on past it.
std::optional<Lexed> lex(std::string_view text, Flags flags, SQLDumpSqlMode::Release release,
                         bool strict) {
    Lexed lexed;
    std::vector<Token>& out = lexed.tokens;
    out.reserve(16);
    bool executable = false;
    std::size_t i = 0;
    const std::size_t size = text.size();
    const bool escapes = flags.noBackslashEscapes == Flag::off;
    const auto quoted = [&](char quote, bool backslashes) -> std::optional<std::string_view> {
        const std::optional<Quoted> found = quotedAt(text, i, backslashes);
        if (!found || (strict && found->escaped))
            return std::nullopt;
        const std::string_view raw = text.substr(i + 1, found->close - i - 1);
        i = found->close + 1;
        if (!found->escaped && !found->doubled)
            return raw;
        return lexed.own(unquoted(raw, quote, backslashes));
    };
    while (i < size) {
        const char c = text[i];
        const char n = i + 1 < size ? text[i + 1] : '\0';
        bool unsure = false;
        if (skipIgnored(text, i, executable, release, unsure)) {
            continue;
        } else if (unsure) {
            return std::nullopt;
        } else if (c == '\'' || (c == '"' && flags.ansiQuotes == Flag::off)) {
            const std::optional<std::string_view> content = quoted(c, escapes);
            if (!content)
                return std::nullopt;
            out.push_back({Kind::string, *content});
        } else if (c == '`' || (c == '"' && flags.ansiQuotes == Flag::on)) {
            const std::optional<std::string_view> content = quoted(c, false);
            if (!content)
                return std::nullopt;
            out.push_back({Kind::name, *content});
        } else if (c == '@') {
            const bool system = n == '@';
            i += system ? 2 : 1;
            std::string_view name;
            if (!system && i < size && (text[i] == '\'' || text[i] == '"' || text[i] == '`')) {
                const std::optional<std::string_view> content =
                    quoted(text[i], text[i] != '`' && escapes);
                if (!content)
                    return std::nullopt;
                name = *content;
            } else {
                const std::size_t from = i;
                while (i < size && (isWordByte(text[i]) || text[i] == '.'))
                    ++i;
                name = text.substr(from, i - from);
            }
            const bool ascii = std::all_of(name.begin(), name.end(), [](char b) {
                return static_cast<unsigned char>(b) < 0x80;
            });
            const bool asIs = (system || ascii) && !hasUpper(name);
            out.push_back(
                {system ? Kind::system : Kind::user,
                 asIs ? name
                      : lexed.own(system ? lowered(name) : SQLDumpSqlMode::variableKey(name))});
        } else if (isWordByte(c)) {
            std::size_t j = i;
            while (j < size && isWordByte(text[j]))
                ++j;
            out.push_back({Kind::word, text.substr(i, j - i)});
            i = j;
        } else {
            const std::size_t length = c == ':' && n == '=' ? 2 : 1;
            out.push_back({Kind::punctuation, text.substr(i, length)});
            i += length;
        }
    }
    if (executable && strict)
        return std::nullopt;
    return lexed;
}

// A client character set with characters whose trailing byte is a
// backslash or backtick, which a client reading UTF-8 takes on its own.
bool trailsReadApart(std::string_view name) {
    for (const std::string_view set : {"big5", "gbk", "sjis", "cp932", "gb18030"})
        if (equalsLowered(name, set))
            return true;
    return false;
}

// `word` is lower-case.
bool isWord(const Token& token, std::string_view word) {
    if (token.kind != Kind::word || token.text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(token.text[i]) != word[i])
            return false;
    return true;
}

bool isPunctuation(const Token* token, std::string_view text) {
    return token && token->kind == Kind::punctuation && token->text == text;
}

// A name code may be reached by: a word or a quoted name, in any letter
// case.
bool namesCode(const Token& token) {
    return token.kind == Kind::word || token.kind == Kind::name;
}

bool endsCompound(const std::vector<Token>& tokens, std::size_t at) {
    if (at + 1 >= tokens.size())
        return true;
    for (const std::string_view closes : {"if", "case", "loop", "while", "repeat", "for"})
        if (isWord(tokens[at + 1], closes))
            return false;
    return true;
}

// Follows the BEGIN ... END blocks a statement of a body opens and closes
// in the words it begins with: labels, BEGIN, and a plain END. Only these
// places count, where the words cannot be names; a block opened elsewhere
// (after THEN, in a handler) leaves its END to close one early, which
// only ends the body sooner than the server does.
std::size_t followBlocks(const std::vector<Token>& tokens, std::size_t at, int& depth) {
    while (at < tokens.size() && depth > 0) {
        if (namesCode(tokens[at]) && at + 1 < tokens.size() &&
            isPunctuation(&tokens[at + 1], ":")) {
            at += 2;
        } else if (isWord(tokens[at], "begin")) {
            ++depth;
            ++at;
        } else if (isWord(tokens[at], "end") && endsCompound(tokens, at)) {
            --depth;
            break;
        } else {
            break;
        }
    }
    return at;
}

// A word of the characteristics of a routine: the number of tokens it
// takes, none for any other.
std::size_t characteristic(const std::vector<Token>& tokens, std::size_t at) {
    const auto word = [&](std::size_t k, std::string_view w) {
        return at + k < tokens.size() && isWord(tokens[at + k], w);
    };
    if (word(0, "comment") && at + 1 < tokens.size() && tokens[at + 1].kind == Kind::string)
        return 2;
    if (word(0, "language") && word(1, "sql"))
        return 2;
    if (word(0, "deterministic"))
        return 1;
    if (word(0, "not") && word(1, "deterministic"))
        return 2;
    if ((word(0, "contains") || word(0, "no")) && word(1, "sql"))
        return 2;
    if ((word(0, "reads") || word(0, "modifies")) && word(1, "sql") && word(2, "data"))
        return 3;
    if (word(0, "sql") && word(1, "security") && (word(2, "definer") || word(2, "invoker")))
        return 3;
    return 0;
}

std::size_t skipGroup(const std::vector<Token>& tokens, std::size_t at) {
    if (at >= tokens.size() || !isPunctuation(&tokens[at], "("))
        return at;
    int open = 0;
    for (; at < tokens.size(); ++at) {
        if (isPunctuation(&tokens[at], "("))
            ++open;
        else if (isPunctuation(&tokens[at], ")") && --open == 0)
            return at + 1;
    }
    return at;
}

// A name, perhaps qualified by its database: the last part, lower-cased.
std::size_t objectName(const std::vector<Token>& tokens, std::size_t at, std::string& name) {
    while (at < tokens.size() && namesCode(tokens[at])) {
        name = lowered(tokens[at].text);
        ++at;
        if (at < tokens.size() && isPunctuation(&tokens[at], "."))
            ++at;
        else
            break;
    }
    return at;
}

struct Made {
    std::string kind; // trigger, procedure, function, package, event, view; empty if none
    std::string key;  // its name, or the table of a trigger
    std::optional<std::size_t> body; // where a body to follow begins
    std::size_t schedule = 0;        // an event's tokens evaluated now end here
};

// What a CREATE statement makes, read from its tokens.
Made makes(const std::vector<Token>& tokens) {
    Made made;
    if (tokens.empty() || !isWord(tokens[0], "create"))
        return made;
    std::size_t at = 1;
    const auto word = [&](std::string_view w) {
        return at < tokens.size() && isWord(tokens[at], w);
    };
    while (at < tokens.size()) {
        if (word("or") || word("replace") || word("aggregate") || word("algorithm") ||
            word("undefined") || word("merge") || word("temptable") || word("sql") ||
            word("security") || word("invoker") || isPunctuation(&tokens[at], "=")) {
            ++at;
        } else if (word("definer")) {
            ++at;
            if (isPunctuation(at < tokens.size() ? &tokens[at] : nullptr, "="))
                ++at;
            if (word("current_user")) {
                ++at;
                if (at + 1 < tokens.size() && isPunctuation(&tokens[at], "(") &&
                    isPunctuation(&tokens[at + 1], ")"))
                    at += 2;
            } else if (at < tokens.size() && tokens[at].kind != Kind::punctuation) {
                ++at;
                if (at < tokens.size() && tokens[at].kind == Kind::user)
                    ++at;
            }
        } else {
            break;
        }
    }
    if (at >= tokens.size() || tokens[at].kind != Kind::word)
        return made;
    const std::string kind = lowered(tokens[at].text);
    if (kind != "trigger" && kind != "procedure" && kind != "function" && kind != "package" &&
        kind != "event" && kind != "view")
        return made;
    made.kind = kind;
    ++at;
    if (word("body") && kind == "package")
        ++at;
    if (word("if") && at + 2 < tokens.size() && isWord(tokens[at + 1], "not") &&
        isWord(tokens[at + 2], "exists"))
        at += 3;
    at = objectName(tokens, at, made.key);
    if (kind == "procedure" || kind == "function") {
        at = skipGroup(tokens, at);
        if (kind == "function") {
            if (!word("returns"))
                return made;
            ++at;
            if (at >= tokens.size() || tokens[at].kind != Kind::word)
                return made;
            at = skipGroup(tokens, at + 1);
            for (;;) {
                if (word("unsigned") || word("signed") || word("zerofill") || word("binary") ||
                    word("ascii") || word("unicode") || word("byte")) {
                    ++at;
                } else if (word("charset") || word("collate")) {
                    at += 2;
                } else if (word("character") && at + 1 < tokens.size() &&
                           isWord(tokens[at + 1], "set")) {
                    at += 3;
                } else {
                    break;
                }
            }
        }
        while (const std::size_t taken = characteristic(tokens, at))
            at += taken;
        made.body = at;
    } else if (kind == "trigger") {
        made.key.clear();
        for (; at + 1 < tokens.size(); ++at) {
            if (isWord(tokens[at], "on")) {
                at = objectName(tokens, at + 1, made.key);
                break;
            }
        }
        if (!word("for") || at + 2 >= tokens.size() || !isWord(tokens[at + 1], "each") ||
            !isWord(tokens[at + 2], "row"))
            return made;
        at += 3;
        if ((word("follows") || word("precedes")) && at + 1 < tokens.size()) {
            std::string other;
            at = objectName(tokens, at + 1, other);
        }
        made.body = at;
    } else if (kind == "event") {
        int open = 0;
        for (; at < tokens.size(); ++at) {
            if (isPunctuation(&tokens[at], "("))
                ++open;
            else if (isPunctuation(&tokens[at], ")"))
                --open;
            else if (open == 0 && isWord(tokens[at], "do"))
                break;
        }
        made.schedule = at;
        if (at < tokens.size())
            made.body = at + 1;
    }
    return made;
}

} // namespace

bool SQLDumpSqlMode::modes(std::string_view value, Flags& flags) {
    static const std::set<std::string, std::less<>> quoting = {
        "ansi_quotes", "ansi", "db2", "maxdb", "mssql", "oracle", "postgresql"};
    static const std::set<std::string, std::less<>> others = {"real_as_float",
                                                              "pipes_as_concat",
                                                              "ignore_space",
                                                              "ignore_bad_table_options",
                                                              "only_full_group_by",
                                                              "no_unsigned_subtraction",
                                                              "no_dir_in_create",
                                                              "no_key_options",
                                                              "no_table_options",
                                                              "no_field_options",
                                                              "mysql323",
                                                              "mysql40",
                                                              "no_auto_value_on_zero",
                                                              "strict_trans_tables",
                                                              "strict_all_tables",
                                                              "no_zero_in_date",
                                                              "no_zero_date",
                                                              "allow_invalid_dates",
                                                              "error_for_division_by_zero",
                                                              "traditional",
                                                              "no_auto_create_user",
                                                              "high_not_precedence",
                                                              "no_engine_substitution",
                                                              "pad_char_to_full_length",
                                                              "empty_string_is_null",
                                                              "simultaneous_assignment",
                                                              "time_round_fractional"};
    Flags result{Flag::off, Flag::off};
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = value.find(',', from);
        // Longer items are no mode name: kept as they are, they match none.
        const std::string_view raw = value.substr(from, comma - from);
        std::array<char, 32> buffer{};
        std::string_view item = raw;
        if (raw.size() <= buffer.size()) {
            std::transform(raw.begin(), raw.end(), buffer.begin(), lower);
            item = std::string_view(buffer.data(), raw.size());
        }
        if (item == "no_backslash_escapes")
            result.noBackslashEscapes = Flag::on;
        else if (quoting.contains(item))
            result.ansiQuotes = Flag::on;
        else if (!item.empty() && !others.contains(item))
            return false;
        if (comma == std::string_view::npos)
            break;
        from = comma + 1;
    }
    flags = result;
    return true;
}

std::size_t SQLDumpSqlMode::trailApart(std::string_view bytes, unsigned char before) {
    for (std::size_t at = bytes.find_first_of("\\`"); at != std::string_view::npos;
         at = bytes.find_first_of("\\`", at + 1)) {
        const auto previous = at > 0 ? static_cast<unsigned char>(bytes[at - 1]) : before;
        if (previous < 0x81)
            continue;
        if (bytes[at] == '`' || at + 1 >= bytes.size())
            return at;
        const char next = bytes[at + 1];
        if (next == '\'' || next == '"' || next == '\\' || next == '\n' || next == '`')
            return at;
    }
    return std::string_view::npos;
}

std::string SQLDumpSqlMode::variableKey(std::string_view name) {
    bool ascii = true;
    for (const char c : name)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return lowered(name);
    std::string key = "\xff\x02";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(name.size());
    for (std::int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0 || (c >= 0x80 && !foldsAlike(c)))
            return "\xff\x01" + std::string(name); // only the same bytes are surely the same
        c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        char encoded[U8_MAX_LENGTH];
        std::int32_t size = 0;
        U8_APPEND_UNSAFE(reinterpret_cast<std::uint8_t*>(encoded), size, c);
        key.append(encoded, static_cast<std::size_t>(size));
    }
    return key;
}

namespace {

// What an event's schedule, evaluated when the event is made, may run: the
// names in its first `end` tokens and the variables its text names.
SQLDumpSqlMode::Code scheduleOf(const std::vector<Token>& tokens, std::size_t end,
                                std::string_view text) {
    SQLDumpSqlMode::Code schedule;
    for (std::size_t at = 0; at < end; ++at)
        if (namesCode(tokens[at]))
            schedule.words.push_back(lowered(tokens[at].text));
    references(text, schedule.variables, schedule.anyVariable);
    return schedule;
}

std::uint64_t nameHash(std::string_view lowered) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (const char c : lowered)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

} // namespace

void SQLDumpSqlMode::Code::name(std::string_view lowered) {
    const std::uint64_t hash = nameHash(lowered);
    for (const std::uint64_t bit : {hash & 255, (hash >> 8) & 255})
        names[bit / 64] |= std::uint64_t(1) << (bit % 64);
}

void SQLDumpSqlMode::Code::add(const Code& other) {
    setsMode = setsMode || other.setsMode;
    setsCharset = setsCharset || other.setsCharset;
    anyVariable = anyVariable || other.anyVariable;
    variables.insert(other.variables.begin(), other.variables.end());
    words.insert(words.end(), other.words.begin(), other.words.end());
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] |= other.names[i];
}

// SET followed by assignments whose values are single tokens; false (and
// nothing changed) for any other form. The server evaluates every value
// before it assigns the first.
bool SQLDumpSqlMode::set(std::string_view text) {
    const std::optional<Lexed> lexed = lex(text, session_, release_, true);
    if (lexed && lexed->tokens.empty())
        return true; // only in comments the server skips: it runs nothing
    if (!lexed || !isWord(lexed->tokens.front(), "set"))
        return false;
    const std::vector<Token>& tokens = lexed->tokens;
    enum class Target { session, global, charset, variable, other };
    struct Assignment {
        Target target;
        std::string variable;
        Flags flags;
    };
    std::vector<Assignment> assignments;
    bool setsGlobal = false;
    std::size_t at = 1;
    const auto next = [&]() -> const Token* { return at < tokens.size() ? &tokens[at] : nullptr; };
    const auto single = [&]() {
        const Token* value = next();
        if (!value || value->kind == Kind::punctuation)
            return false;
        ++at;
        return true;
    };
    bool globalScope = false;
    for (;;) {
        const Token* token = next();
        if (!token)
            return false;
        if (isWord(*token, "global") || isWord(*token, "session") || isWord(*token, "local")) {
            globalScope = isWord(*token, "global");
            token = (++at, next());
            if (!token || token->kind != Kind::word)
                return false;
        }
        Target target = Target::other;
        std::string variable;
        const Token* value = nullptr;
        if (isWord(*token, "names") || ((isWord(*token, "character") && at + 1 < tokens.size() &&
                                         isWord(tokens[at + 1], "set")) ||
                                        isWord(*token, "charset"))) {
            // NAMES charset [COLLATE collation], CHARACTER SET charset: the
            // set the server reads the session's text in.
            at += isWord(*token, "character") ? 2 : 1;
            value = next();
            if (!single())
                return false;
            target = Target::charset;
            if (next() && isWord(*next(), "collate")) {
                ++at;
                if (!single())
                    return false;
            }
        } else {
            if (token->kind == Kind::word) {
                if (isWord(*token, "statement") || isWord(*token, "transaction") ||
                    isWord(*token, "password") || isWord(*token, "role") ||
                    isWord(*token, "default"))
                    return false;
                if (equalsLowered(token->text, "sql_mode"))
                    target = globalScope ? Target::global : Target::session;
                else if (equalsLowered(token->text, "character_set_client") && !globalScope)
                    target = Target::charset;
            } else if (token->kind == Kind::system) {
                if (token->text == "sql_mode" || token->text == "session.sql_mode" ||
                    token->text == "local.sql_mode")
                    target = Target::session;
                else if (token->text == "global.sql_mode")
                    target = Target::global;
                else if (token->text == "character_set_client" ||
                         token->text == "session.character_set_client" ||
                         token->text == "local.character_set_client")
                    target = Target::charset;
                else if (mentionsMode(token->text))
                    return false;
            } else if (token->kind == Kind::user) {
                target = Target::variable;
                variable = token->text;
            } else {
                return false;
            }
            ++at;
            token = next();
            if (!token || token->kind != Kind::punctuation ||
                (token->text != "=" && token->text != ":="))
                return false;
            ++at;
            value = next();
            if (!value || value->kind == Kind::punctuation)
                return false;
            ++at;
        }
        // The value as a mode list and as a character set, each part known
        // only where the value tells it.
        Flags flags = unknown;
        const auto charset = [](std::string_view name) {
            return trailsReadApart(name) ? Flag::on : Flag::off;
        };
        if (value->kind == Kind::string ||
            (value->kind == Kind::name && target != Target::variable)) {
            if (!modes(value->text, flags))
                flags = unknown;
            flags.multibyte = charset(value->text);
        } else if (value->kind == Kind::word) {
            // DEFAULT takes the global mode as this statement leaves it.
            if (isWord(*value, "default")) {
                if (target == Target::session && !globalChanged_ && !setsGlobal)
                    flags = global_;
                flags.multibyte = Flag::off; // the server's own set
            } else if (!isDigit(value->text[0])) {
                if (target == Target::variable || !modes(value->text, flags))
                    flags = unknown;
                flags.multibyte = charset(value->text);
            }
        } else if (value->kind == Kind::system) {
            if (value->text == "sql_mode" || value->text == "session.sql_mode" ||
                value->text == "local.sql_mode")
                flags = {session_.ansiQuotes, session_.noBackslashEscapes, Flag::unknown};
            else if (value->text == "global.sql_mode" && !globalChanged_)
                flags = {global_.ansiQuotes, global_.noBackslashEscapes, Flag::unknown};
            else if (value->text == "character_set_client" ||
                     value->text == "session.character_set_client" ||
                     value->text == "local.character_set_client")
                flags = {Flag::unknown, Flag::unknown, session_.multibyte};
        } else if (value->kind == Kind::user) {
            const auto held = variables_.find(value->text);
            if (held != variables_.end())
                flags = held->second;
        }
        setsGlobal = setsGlobal || target == Target::global;
        if (target != Target::other)
            assignments.push_back({target, std::move(variable), flags});
        const Token* after = next();
        if (!after)
            break;
        if (!(after->kind == Kind::punctuation && after->text == ","))
            return false;
        ++at;
    }
    for (Assignment& assignment : assignments) {
        const Flags& flags = assignment.flags;
        if (assignment.target == Target::session) {
            session_.ansiQuotes = flags.ansiQuotes;
            session_.noBackslashEscapes = flags.noBackslashEscapes;
        } else if (assignment.target == Target::global) {
            global_ = flags;
            globalChanged_ = true;
        } else if (assignment.target == Target::charset) {
            session_.multibyte = flags.multibyte;
        } else if (assignment.target == Target::variable) {
            // A name outside ASCII may be the server's same variable as
            // any other; one in ASCII as any outside it.
            const auto ascii = [](const std::string& key) {
                return key.empty() || key.front() != '\xff';
            };
            std::erase_if(variables_, [&](const auto& held) {
                return !ascii(assignment.variable) || !ascii(held.first);
            });
            variables_[assignment.variable] = assignment.flags;
        }
    }
    return true;
}

SQLDumpSqlMode::Code SQLDumpSqlMode::codeOf(std::string_view text, bool cut, const void* lexed,
                                            bool hashed) const {
    Code code;
    const std::optional<Lexed> own = lexed ? std::nullopt : lex(text, session_, release_, false);
    const std::optional<Lexed>& tokens =
        lexed ? *static_cast<const std::optional<Lexed>*>(lexed) : own;
    bool dynamic = false;
    if (tokens) {
        for (const Token& token : tokens->tokens) {
            if (!namesCode(token))
                continue;
            const std::string word = lowered(token.text);
            dynamic =
                dynamic || (token.kind == Kind::word && (word == "execute" || word == "prepare"));
            if (hashed)
                code.name(word);
            else
                code.words.push_back(word);
        }
    } else {
        for (const std::string& token : SQLDumpTokens::all(text)) {
            const std::string word = lowered(token);
            dynamic = dynamic || word == "execute" || word == "prepare";
            code.words.push_back(word);
        }
    }
    code.setsMode = cut || dynamic || mentionsMode(text);
    code.setsCharset = cut || dynamic || mentionsCharset(text);
    code.anyVariable = cut || dynamic;
    if (!cut)
        references(text, code.variables, code.anyVariable);
    return code;
}

// What running code the dump made that `words` name may do; with
// `allRoutines`, any routine too (a statement cut before its end). Code
// reaches an object when the names it holds, together with those of all
// code reached before, set both bits of the object's name: a little more
// than each one alone reaches, found in one pass over the bits.
SQLDumpSqlMode::Code SQLDumpSqlMode::reach(const std::vector<std::string>& words,
                                           bool allRoutines) const {
    std::vector<std::uint32_t> start;
    for (const std::string& word : words) {
        for (const auto* byName : {&routines_, &triggers_}) {
            if (const auto found = byName->find(word); found != byName->end())
                start.push_back(found->second);
        }
    }
    // Code whose name could not be read: any statement may reach it.
    for (const auto* byName : {&routines_, &triggers_}) {
        if (const auto found = byName->find(unnamed); found != byName->end())
            start.push_back(found->second);
    }
    std::sort(start.begin(), start.end());
    start.erase(std::unique(start.begin(), start.end()), start.end());
    // Keyed as what the statement names, and whether every routine too.
    constexpr std::uint32_t everyRoutine = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> next = start;
    if (allRoutines) {
        start.push_back(everyRoutine);
        for (const auto& [name, at] : routines_)
            next.push_back(at);
    }
    if (next.empty())
        return {};
    if (const auto known = reached_.find(start); known != reached_.end())
        return known->second;

    Code result;
    std::vector<bool> seen(objects_.size());
    std::array<std::uint64_t, 4> held{};
    const auto holds = [&](std::uint8_t bit) { return (held[bit / 64] >> (bit % 64)) & 1; };
    std::size_t reached = 0;
    while (!next.empty()) {
        const std::uint32_t at = next.back();
        next.pop_back();
        if (seen[at])
            continue;
        seen[at] = true;
        ++reached;
        const Code& code = objects_[at].code;
        result.setsMode = result.setsMode || code.setsMode;
        result.setsCharset = result.setsCharset || code.setsCharset;
        result.anyVariable = result.anyVariable || code.anyVariable;
        result.variables.insert(code.variables.begin(), code.variables.end());
        // Every name held: all code made may run.
        bool everyName = true;
        for (std::size_t word = 0; word < held.size(); ++word)
            everyName = everyName && ~(held[word] | code.names[word]) == 0;
        if (everyName || reached == objects_.size()) {
            result = all_;
            break;
        }
        for (std::size_t word = 0; word < held.size(); ++word) {
            for (std::uint64_t added = code.names[word] & ~held[word]; added != 0;
                 added &= added - 1) {
                const auto bit = static_cast<std::uint8_t>(word * 64 + std::countr_zero(added));
                held[word] |= std::uint64_t(1) << (bit % 64);
                for (const std::uint32_t other : byBit_[bit])
                    if (!seen[other] && holds(objects_[other].first) &&
                        holds(objects_[other].second))
                        next.push_back(other);
            }
        }
    }
    // Bounded: a dump names few sets of objects over and over.
    if (reached_.size() >= 1024)
        reached_.clear();
    reached_.emplace(std::move(start), result);
    return result;
}

void SQLDumpSqlMode::modeUnknown() {
    session_.ansiQuotes = session_.noBackslashEscapes = Flag::unknown;
    globalChanged_ = true;
}

void SQLDumpSqlMode::runs(const Code& statement, bool cut) {
    Code effect = reach(statement.words, cut);
    effect.anyVariable = effect.anyVariable || statement.anyVariable || cut;
    effect.variables.insert(statement.variables.begin(), statement.variables.end());
    if (effect.setsMode)
        modeUnknown();
    if (effect.setsCharset)
        session_.multibyte = Flag::unknown;
    if (effect.anyVariable) {
        variables_.clear();
        return;
    }
    for (const std::string& name : effect.variables)
        variables_.erase(name);
}

void SQLDumpSqlMode::made(const std::string& kind, const std::string& key, const Code& code) {
    if (kind == "event")
        return; // its body runs in the scheduler's own session
    // So many objects are folded into one that any statement may reach,
    // which keeps memory bounded whatever the dump holds.
    constexpr std::size_t mostKept = 4096;
    auto& byKey = kind == "trigger" ? triggers_ : routines_;
    const bool kept = byKey.contains(key) || objects_.size() < mostKept;
    auto& byName = kept ? byKey : routines_;
    const auto [found, added] =
        byName.try_emplace(kept ? key : unnamed, static_cast<std::uint32_t>(objects_.size()));
    if (added) {
        const std::uint64_t hash = nameHash(found->first);
        Object object;
        object.first = static_cast<std::uint8_t>(hash & 255);
        object.second = static_cast<std::uint8_t>((hash >> 8) & 255);
        byBit_[object.first].push_back(found->second);
        if (object.second != object.first)
            byBit_[object.second].push_back(found->second);
        objects_.push_back(std::move(object));
    }
    Code& held = objects_[found->second].code;
    held.add(code);
    for (const std::string& word : held.words)
        held.name(word);
    held.words.clear();
    held.words.shrink_to_fit();
    if (kind == "view")
        held.setsMode = held.setsCharset = held.anyVariable = false, held.variables.clear();
    all_.setsMode = all_.setsMode || held.setsMode;
    all_.setsCharset = all_.setsCharset || held.setsCharset;
    all_.anyVariable = all_.anyVariable || held.anyVariable;
    all_.variables.insert(held.variables.begin(), held.variables.end());
    reached_.clear();
    anySetsMode_ = anySetsMode_ || held.setsMode;
    anySetsCharset_ = anySetsCharset_ || held.setsCharset;
}

void SQLDumpSqlMode::apply(std::string_view text, bool cut) {
    // Two words tell all but what an unreadable CREATE makes.
    std::vector<std::string> tokens = SQLDumpTokens::first(text, 2);
    const std::string first = tokens.empty() ? "" : lowered(tokens[0]);
    const std::string second = tokens.size() < 2 ? "" : lowered(tokens[1]);
    const std::string_view keyword = first;
    const auto word = [&](std::size_t at) -> std::string {
        if (at < 2)
            return at == 0 ? first : second;
        return at < tokens.size() ? lowered(tokens[at]) : std::string();
    };
    const bool inPlace = keyword == "execute" || keyword == "if" || keyword == "while" ||
                         keyword == "loop" || keyword == "repeat" || keyword == "case" ||
                         keyword == "for" || (keyword == "begin" && second == "not") ||
                         (!keyword.empty() && keyword.back() == ':') || second == ":";
    if (keyword == "set") {
        if (cut || !set(text)) {
            if (cut || mentionsMode(text))
                modeUnknown();
            if (cut || mentionsCharset(text))
                session_.multibyte = Flag::unknown;
            runs(codeOf(text, cut), cut);
        }
    } else if (inPlace) {
        session_ = unknown;
        globalChanged_ = true;
        variables_.clear();
    } else if (keyword == "create") {
        const std::optional<Lexed> lexed = lex(text, session_, release_, false);
        Made what;
        if (lexed) {
            what = makes(lexed->tokens);
        } else {
            tokens = SQLDumpTokens::tokens(text);
            for (std::size_t at = 1; at < tokens.size() && what.kind.empty(); ++at)
                for (const char* kind : {"trigger", "procedure", "function", "package", "event"})
                    if (word(at) == kind)
                        what.kind = kind;
            what.key = unnamed;
        }
        if (what.kind == "event") {
            runs(lexed && !cut ? scheduleOf(lexed->tokens, what.schedule, text) : Code{},
                 cut || !lexed);
        } else if (!what.kind.empty()) {
            made(what.kind, what.key.empty() ? unnamed : what.key, codeOf(text, cut, &lexed, true));
        } else {
            runs(codeOf(text, cut), cut);
        }
    } else if (keyword != "drop" && keyword != "use" && !keyword.empty()) {
        runs(codeOf(text, cut), cut);
    }
}

void SQLDumpSqlMode::ran(std::string_view text, bool cut) {
    if (block_) {
        endBlock();
        return;
    }
    apply(text, cut);
}

void SQLDumpSqlMode::ranUnread() {
    if (block_) {
        endBlock();
        return;
    }
    if (!variables_.empty())
        variables_.clear();
    if (anySetsMode_)
        modeUnknown();
    if (anySetsCharset_)
        session_.multibyte = Flag::unknown;
}

bool SQLDumpSqlMode::unreadSuffices(std::string_view head) const {
    if (anySetsMode_ || anySetsCharset_)
        return false;
    std::size_t end = 0;
    while (end < head.size() && isWordByte(head[end]))
        ++end;
    // The words that run code in place, by their length.
    static constexpr std::array<std::array<std::string_view, 3>, 8> runInPlace = {
        {{},
         {},
         {"if"},
         {"for"},
         {"call", "loop", "case"},
         {"begin", "while"},
         {"repeat"},
         {"execute"}}};
    if (end < runInPlace.size()) {
        for (const std::string_view runs : runInPlace[end])
            if (!runs.empty() && equalsLowered(head.substr(0, end), runs))
                return false;
    }
    while (end < head.size() && SQLDumpClientText::isBlank(static_cast<unsigned char>(head[end])))
        ++end;
    return end >= head.size() || head[end] != ':';
}

void SQLDumpSqlMode::endBlock() {
    if (making_)
        made(pendingKind_, pendingKey_, pending_);
    block_ = making_ = false;
    depth_ = 0;
    pending_ = {};
}

void SQLDumpSqlMode::noteApart() {
    apart_.ansiQuotes = apart_.ansiQuotes || session_.ansiQuotes != client_.ansiQuotes;
    apart_.noBackslashEscapes =
        apart_.noBackslashEscapes || session_.noBackslashEscapes != client_.noBackslashEscapes;
    apart_.multibyte = apart_.multibyte || session_.multibyte != client_.multibyte;
}

void SQLDumpSqlMode::firstWithin(std::string_view text, bool cut) {
    if (block_)
        endBlock();
    block_ = true;
    client_ = session_;
    apart_ = {};
    const std::optional<Lexed> lexed = lex(text, session_, release_, false);
    const Made what = lexed ? makes(lexed->tokens) : Made{};
    if (what.kind.empty() || what.kind == "view") {
        apply(text, cut);
        noteApart();
        return;
    }
    if (what.kind == "event") {
        runs(scheduleOf(lexed->tokens, what.schedule, text), cut);
    }
    pendingKind_ = what.kind;
    pendingKey_ = what.key.empty() ? unnamed : what.key;
    pending_ = codeOf(text, cut, &lexed, true);
    making_ = true;
    depth_ = 0;
    if (what.body && !cut) {
        std::size_t at = *what.body;
        const std::vector<Token>& tokens = lexed->tokens;
        while (at + 1 < tokens.size() && namesCode(tokens[at]) &&
               isPunctuation(&tokens[at + 1], ":"))
            at += 2;
        if (at < tokens.size() && isWord(tokens[at], "begin")) {
            depth_ = 1;
            followBlocks(tokens, at + 1, depth_);
        }
    }
    if (depth_ == 0)
        endBlockBody();
    noteApart();
}

void SQLDumpSqlMode::endBlockBody() {
    made(pendingKind_, pendingKey_, pending_);
    making_ = false;
    pending_ = {};
}

void SQLDumpSqlMode::pieceOf(std::string_view text, bool cut, Code& code) {
    // The first tokens, for the blocks; every word and name, hashed.
    constexpr std::size_t leadingTokens = 8;
    std::vector<Token> leading;
    leading.reserve(leadingTokens);
    bool dynamic = false;
    bool readable = true;
    bool executable = false;
    const bool escapes = session_.noBackslashEscapes == Flag::off;
    std::string word;
    const auto take = [&](Kind kind, std::string_view raw) {
        if (kind == Kind::word || kind == Kind::name) {
            word.assign(raw);
            for (char& c : word)
                c = lower(c);
            code.name(word);
            dynamic = dynamic || (kind == Kind::word && (word == "execute" || word == "prepare"));
        }
        // Only words and where they stand tell the blocks: a quoted text
        // needs no contents there.
        if (leading.size() < leadingTokens)
            leading.push_back(
                {kind, kind == Kind::string || kind == Kind::name ? std::string_view() : raw});
    };
    std::size_t i = 0;
    const std::size_t size = text.size();
    while (i < size && readable) {
        const char c = text[i];
        const char n = i + 1 < size ? text[i + 1] : '\0';
        bool unsure = false;
        if (skipIgnored(text, i, executable, release_, unsure)) {
            continue;
        } else if (unsure) {
            readable = false;
            break;
        } else if (c == '\'' || c == '"' || c == '`') {
            const bool name = c == '`' || (c == '"' && session_.ansiQuotes == Flag::on);
            if (c == '"' && session_.ansiQuotes == Flag::unknown) {
                readable = false;
                break;
            }
            const bool backslashes = escapes && !name;
            const std::optional<Quoted> found = quotedAt(text, i, backslashes);
            if (!found) {
                readable = false;
                break;
            }
            const std::string_view raw = text.substr(i + 1, found->close - i - 1);
            // Only a name's contents are kept, and a name has no escapes.
            take(name ? Kind::name : Kind::string,
                 found->doubled ? std::string_view(unquoted(raw, c, backslashes)) : raw);
            i = found->close + 1;
        } else if (c == '@') {
            std::size_t j = i + 1;
            while (j < size && (isWordByte(text[j]) || text[j] == '.' || text[j] == '@'))
                ++j;
            take(Kind::user, text.substr(i, j - i));
            i = j;
        } else if (isWordByte(c)) {
            std::size_t j = i;
            while (j < size && isWordByte(text[j]))
                ++j;
            take(Kind::word, text.substr(i, j - i));
            i = j;
        } else {
            take(Kind::punctuation, text.substr(i, c == ':' && n == '=' ? 2 : 1));
            i += c == ':' && n == '=' ? 2 : 1;
        }
    }
    if (readable)
        followBlocks(leading, 0, depth_);
    else
        depth_ = 0; // where the body ends is not known: what follows may run
    const bool unsure = cut || dynamic || !readable;
    code.setsMode = code.setsMode || unsure || mentionsMode(text);
    code.setsCharset = code.setsCharset || unsure || mentionsCharset(text);
    code.anyVariable = code.anyVariable || unsure;
    if (!cut)
        references(text, code.variables, code.anyVariable);
}

void SQLDumpSqlMode::ranWithin(std::string_view text, bool cut) {
    if (!block_) {
        firstWithin(text, cut);
        return;
    }
    if (readsApart() && (cut || (apart_.ansiQuotes && text.find('"') != std::string_view::npos) ||
                         ((apart_.noBackslashEscapes || apart_.multibyte) &&
                          text.find('\\') != std::string_view::npos) ||
                         (apart_.multibyte && text.find('`') != std::string_view::npos)))
        throw ReadApart{};
    if (making_) {
        pieceOf(text, cut, pending_);
        if (depth_ == 0)
            endBlockBody();
        return;
    }
    apply(text, cut);
    noteApart();
}

} // namespace vessora
