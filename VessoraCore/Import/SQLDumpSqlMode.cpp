#include "VessoraCore/Import/SQLDumpSqlMode.hpp"

#include "VessoraCore/Import/SQLDumpClientText.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <optional>
#include <vector>

namespace vessora {

namespace {

using Flag = SQLDumpSqlMode::Flag;
using Flags = SQLDumpSqlMode::Flags;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

bool isWordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || byte >= 0x80;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `text` names sql_mode anywhere, in any letter case.
bool mentionsMode(std::string_view text) {
    constexpr std::string_view name = "sql_mode";
    for (std::size_t at = text.find_first_of("sS"); at != std::string_view::npos;
         at = text.find_first_of("sS", at + 1)) {
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

// The user variables `text` names: "@" and a name, not "@@" and not the
// host of an account (right after its name). A quoted name counts as any.
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
        names.insert(lowered(text.substr(at + 1, end - at - 1)));
    }
}

// The server's reading of one SET statement's text, as far as the mode
// needs it: tokens outside comments, executable comments opened when the
// server runs them.
enum class Kind { word, string, name, system, user, punctuation };

struct Token {
    Kind kind;
    std::string text; // a string's or name's contents; lower-cased for variables
};

// What MariaDB 10.11 does with an executable comment of `version` digits:
// run its contents, skip them, or depends on the release (none).
std::optional<bool> runsVersion(std::string_view digits, bool mariadb) {
    if (digits.size() < 5)
        return true; // no version: always run, the digits are text
    const long version = std::stol(std::string(digits.substr(0, 6)));
    if (version <= 101100)
        return mariadb || version < 50700 || version > 99999;
    if (version < 101200)
        return std::nullopt;
    return false;
}

std::optional<std::vector<Token>> lex(std::string_view text, Flags flags) {
    std::vector<Token> out;
    bool executable = false;
    std::size_t i = 0;
    const std::size_t size = text.size();
    const auto quoted = [&](char quote, bool escapes) -> std::optional<std::string> {
        std::string content;
        std::size_t j = i + 1;
        for (;;) {
            if (j >= size)
                return std::nullopt;
            if (text[j] == '\\' && escapes)
                return std::nullopt; // no mode name holds one
            if (text[j] == quote) {
                if (j + 1 < size && text[j + 1] == quote) {
                    content += quote;
                    j += 2;
                    continue;
                }
                break;
            }
            content += text[j++];
        }
        i = j + 1;
        return content;
    };
    while (i < size) {
        const char c = text[i];
        const char n = i + 1 < size ? text[i + 1] : '\0';
        if (SQLDumpClientText::isBlank(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#' || SQLDumpTokens::opensDashComment(text, i)) {
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
                    runsVersion(text.substr(content, digits - content), mariadb);
                if (!runs || executable)
                    return std::nullopt;
                if (*runs) {
                    executable = true;
                    i = digits - content < 5 ? content : digits;
                    continue;
                }
            }
            const std::size_t close = text.find("*/", i + 2);
            if (close == std::string_view::npos ||
                text.substr(i + 2, close - i - 2).find("/*") != std::string_view::npos)
                return std::nullopt;
            i = close + 2;
        } else if (c == '*' && n == '/' && executable) {
            executable = false;
            i += 2;
        } else if (c == '\'' || (c == '"' && flags.ansiQuotes == Flag::off)) {
            std::optional<std::string> content = quoted(c, true);
            if (!content)
                return std::nullopt;
            out.push_back({Kind::string, std::move(*content)});
        } else if (c == '`' || (c == '"' && flags.ansiQuotes == Flag::on)) {
            std::optional<std::string> content = quoted(c, false);
            if (!content)
                return std::nullopt;
            out.push_back({Kind::name, std::move(*content)});
        } else if (c == '@') {
            const bool system = n == '@';
            i += system ? 2 : 1;
            std::string name;
            if (!system && i < size && (text[i] == '\'' || text[i] == '"' || text[i] == '`')) {
                std::optional<std::string> content = quoted(text[i], text[i] != '`');
                if (!content)
                    return std::nullopt;
                name = *content;
            } else {
                while (i < size && (isWordByte(text[i]) || text[i] == '.'))
                    name += text[i++];
            }
            out.push_back({system ? Kind::system : Kind::user, lowered(name)});
        } else if (isWordByte(c)) {
            std::size_t j = i;
            while (j < size && isWordByte(text[j]))
                ++j;
            out.push_back({Kind::word, std::string(text.substr(i, j - i))});
            i = j;
        } else if (c == ':' && n == '=') {
            out.push_back({Kind::punctuation, ":="});
            i += 2;
        } else {
            out.push_back({Kind::punctuation, std::string(1, c)});
            ++i;
        }
    }
    if (executable)
        return std::nullopt;
    return out;
}

bool isWord(const Token& token, std::string_view word) {
    return token.kind == Kind::word && lowered(token.text) == word;
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
        const std::string item = lowered(value.substr(from, comma - from));
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

// SET followed by assignments whose values are single tokens; false (and
// nothing changed) for any other form.
bool SQLDumpSqlMode::set(std::string_view text) {
    const std::optional<std::vector<Token>> lexed = lex(text, session_);
    if (lexed && lexed->empty())
        return true; // only in comments the server skips: it runs nothing
    if (!lexed || !isWord(lexed->front(), "set"))
        return false;
    const std::vector<Token>& tokens = *lexed;
    enum class Target { session, global, variable, other };
    // Values as each assignment sees them, left to right.
    Flags session = session_;
    Flags global = global_;
    std::map<std::string, Flags> variables = variables_;
    bool globalChanged = globalChanged_;
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
        if (isWord(*token, "names")) {
            // NAMES charset [COLLATE collation]: nothing the mode reads.
            ++at;
            if (!single())
                return false;
            if (next() && isWord(*next(), "collate")) {
                ++at;
                if (!single())
                    return false;
            }
        } else {
            if (token->kind == Kind::word) {
                if (isWord(*token, "statement") || isWord(*token, "character") ||
                    isWord(*token, "charset") || isWord(*token, "transaction") ||
                    isWord(*token, "password") || isWord(*token, "role") ||
                    isWord(*token, "default"))
                    return false;
                if (lowered(token->text) == "sql_mode")
                    target = globalScope ? Target::global : Target::session;
            } else if (token->kind == Kind::system) {
                if (token->text == "sql_mode" || token->text == "session.sql_mode" ||
                    token->text == "local.sql_mode")
                    target = Target::session;
                else if (token->text == "global.sql_mode")
                    target = Target::global;
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
            const Token* value = next();
            if (!value || value->kind == Kind::punctuation)
                return false;
            ++at;
            Flags flags = unknown;
            if (value->kind == Kind::string ||
                (value->kind == Kind::name && target != Target::variable)) {
                if (!modes(value->text, flags))
                    flags = unknown;
            } else if (value->kind == Kind::word) {
                if (isWord(*value, "default")) {
                    if (target == Target::session && !globalChanged)
                        flags = global;
                } else if (target == Target::variable || isDigit(value->text[0]) ||
                           !modes(value->text, flags)) {
                    flags = unknown;
                }
            } else if (value->kind == Kind::system) {
                if (value->text == "sql_mode" || value->text == "session.sql_mode" ||
                    value->text == "local.sql_mode")
                    flags = session;
                else if (value->text == "global.sql_mode" && !globalChanged)
                    flags = global;
            } else if (value->kind == Kind::user) {
                const auto held = variables.find(value->text);
                if (held != variables.end())
                    flags = held->second;
            }
            if (target == Target::session) {
                session = flags;
            } else if (target == Target::global) {
                global = flags;
                globalChanged = true;
            } else if (target == Target::variable) {
                variables[variable] = flags;
            }
        }
        const Token* after = next();
        if (!after)
            break;
        if (!(after->kind == Kind::punctuation && after->text == ","))
            return false;
        ++at;
    }
    session_ = session;
    global_ = global;
    globalChanged_ = globalChanged;
    variables_ = std::move(variables);
    return true;
}

// Code the dump made may run: a trigger, a function, a procedure a
// function calls.
void SQLDumpSqlMode::runsCode() {
    if (codeMaySetMode_)
        session_ = unknown;
    if (codeAnyVariable_)
        variables_.clear();
    for (const std::string& name : codeVariables_)
        variables_.erase(name);
}

void SQLDumpSqlMode::applyWithin() {
    if (!within_)
        return;
    within_ = false;
    if (withinSetsMode_) {
        session_ = unknown;
        globalChanged_ = true;
    }
    if (withinRunsCode_) {
        session_ = unknown;
        globalChanged_ = true;
        variables_.clear();
    }
    runsCode();
    if (withinAnyVariable_)
        variables_.clear();
    for (const std::string& name : withinVariables_)
        variables_.erase(name);
    withinSetsMode_ = withinRunsCode_ = withinAnyVariable_ = false;
    withinVariables_.clear();
}

void SQLDumpSqlMode::ran(std::string_view text, bool cut) {
    const std::vector<std::string> tokens = SQLDumpTokens::tokens(text);
    const std::string keyword = tokens.empty() ? "" : lowered(tokens[0]);
    const auto word = [&](std::size_t at) {
        return at < tokens.size() ? lowered(tokens[at]) : std::string();
    };
    const bool compound = keyword == "call" || keyword == "execute" || keyword == "if" ||
                          keyword == "while" || keyword == "loop" || keyword == "repeat" ||
                          keyword == "case" || keyword == "for" ||
                          (keyword == "begin" && word(1) == "not") ||
                          (!keyword.empty() && keyword.back() == ':') || word(1) == ":";
    if (keyword == "set") {
        if (cut || !set(text)) {
            if (cut || mentionsMode(text)) {
                session_ = unknown;
                globalChanged_ = true;
            }
            variables_.clear();
            runsCode();
        }
    } else if (compound) {
        session_ = unknown;
        globalChanged_ = true;
        variables_.clear();
    } else if (keyword == "create") {
        bool code = false;
        bool event = false;
        for (std::size_t at = 1; at < tokens.size() && !code && !event; ++at) {
            const std::string next = word(at);
            if (next == "(" || next == "table" || next == "view" || next == "database" ||
                next == "schema" || next == "index" || next == "user")
                break;
            event = next == "event";
            code =
                next == "trigger" || next == "function" || next == "procedure" || next == "package";
        }
        if (event) {
            // Its body runs later, in the scheduler's own session; only its
            // schedule is evaluated now, which may call code the dump made
            // and assign the variables it names.
            runsCode();
            if (cut) {
                variables_.clear();
            } else {
                std::set<std::string> named;
                bool any = false;
                references(text, named, any);
                if (any)
                    variables_.clear();
                for (const std::string& name : named)
                    variables_.erase(name);
            }
        } else if (code) {
            codeMaySetMode_ = codeMaySetMode_ || cut || mentionsMode(text);
            if (cut)
                codeAnyVariable_ = true;
            else
                references(text, codeVariables_, codeAnyVariable_);
        } else {
            ranUnread();
            return;
        }
    } else if (keyword != "drop" && keyword != "use") {
        // Neither runs code nor assigns a variable.
        ranUnread();
        return;
    }
    applyWithin();
}

void SQLDumpSqlMode::ranUnread() {
    variables_.clear();
    runsCode();
    applyWithin();
}

bool SQLDumpSqlMode::unreadSuffices(std::string_view head) {
    std::size_t end = 0;
    while (end < head.size() && isWordByte(head[end]))
        ++end;
    const std::string word = lowered(head.substr(0, end));
    for (const std::string_view runs :
         {"call", "execute", "begin", "if", "while", "loop", "repeat", "case", "for"}) {
        if (word == runs)
            return false;
    }
    while (end < head.size() && SQLDumpClientText::isBlank(static_cast<unsigned char>(head[end])))
        ++end;
    return end >= head.size() || head[end] != ':';
}

void SQLDumpSqlMode::ranWithin(std::string_view text, bool cut) {
    // It may run now, or belong to the body of a trigger or routine made.
    within_ = true;
    if (cut || mentionsMode(text)) {
        withinSetsMode_ = true;
        codeMaySetMode_ = true;
    }
    const std::vector<std::string> tokens = SQLDumpTokens::tokens(text);
    for (const std::string& token : tokens) {
        const std::string word = lowered(token);
        if (word == "call" || word == "execute")
            withinRunsCode_ = true;
    }
    if (cut) {
        withinAnyVariable_ = codeAnyVariable_ = true;
        return;
    }
    references(text, withinVariables_, withinAnyVariable_);
    references(text, codeVariables_, codeAnyVariable_);
}

} // namespace vessora
