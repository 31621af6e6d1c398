#include "VessoraCore/Import/SQLDumpStatement.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpClientText.hpp"
#include "VessoraCore/Import/SQLDumpDatabaseStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <algorithm>
#include <vector>

namespace vessora::SQLDumpStatement {

namespace {

bool isDatabaseWord(const std::string& token) {
    const std::string word = UnicodeText::uppercased(token);
    return word == "DATABASE" || word == "SCHEMA";
}

bool is(const std::vector<std::string>& tokens, std::size_t at, std::string_view word) {
    return at < tokens.size() && UnicodeText::uppercased(tokens[at]) == word;
}

enum class Selecting { none, use, create, alter };

// Whether the statement selects, creates or alters a database by name, as
// far as its leading tokens tell.
Selecting selecting(const std::string& keyword, const std::vector<std::string>& tokens) {
    if (keyword == "USE")
        return tokens.size() < 2 ? Selecting::none : Selecting::use;
    if (keyword == "ALTER")
        return tokens.size() >= 2 && isDatabaseWord(tokens[1]) ? Selecting::alter : Selecting::none;
    if (keyword != "CREATE")
        return Selecting::none;
    std::size_t next = 1;
    if (is(tokens, next, "OR") && is(tokens, next + 1, "REPLACE"))
        next += 2;
    if (next >= tokens.size() || !isDatabaseWord(tokens[next]))
        return Selecting::none;
    ++next;
    if (is(tokens, next, "IF") && is(tokens, next + 1, "NOT") && is(tokens, next + 2, "EXISTS"))
        next += 3;
    return next < tokens.size() ? Selecting::create : Selecting::none;
}

std::string quoted(std::string_view database) {
    std::string name = "`";
    for (char c : database) {
        if (c == '`')
            name += '`';
        name += c;
    }
    return name + "`";
}

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether the text names NO_BACKSLASH_ESCAPES in any letter case, as
// Unicode capitals tell it.
bool holdsNoBackslashEscapes(std::string_view sent) {
    constexpr std::string_view name = "NO_BACKSLASH_ESCAPES";
    const bool ascii = std::all_of(sent.begin(), sent.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii)
        return UnicodeText::uppercased(sent).find(name) != std::string::npos;
    const auto it =
        std::search(sent.begin(), sent.end(), name.begin(), name.end(), [](char a, char b) {
            return a == b || (a >= 'a' && a <= 'z' && a - 'a' + 'A' == b);
        });
    return it != sent.end();
}

// The refusals of any statement the server runs, by its first words.
void refuse(const std::string& keyword, const std::vector<std::string>& tokens,
            std::string_view sent) {
    if (keyword == "SET" && holdsNoBackslashEscapes(sent))
        throw VessoraError(
            L10n::text("Export SQL using the default string-escape mode before importing."));
    if (keyword == "DROP" && tokens.size() >= 2 && isDatabaseWord(tokens[1]))
        throw VessoraError(L10n::text("The dump drops a database. Export a single application "
                                      "database without DROP DATABASE."));
}

// A statement whose examined text ends after fewer words than decide what
// it does with a database.
bool undecided(const std::string& keyword, const std::vector<std::string>& tokens, bool cut) {
    return cut && tokens.size() < 5 &&
           (keyword == "USE" || keyword == "CREATE" || keyword == "ALTER" || keyword == "DROP");
}

// The statement's leading tokens and its first word in capitals: the first
// alone tells what any but a statement about a database does.
std::vector<std::string> leading(std::string_view sent, bool quotedNames, std::string& keyword) {
    std::vector<std::string> tokens = SQLDumpTokens::first(sent, 1, quotedNames);
    if (tokens.empty())
        return tokens;
    keyword = UnicodeText::uppercased(tokens[0]);
    if (keyword == "USE" || keyword == "CREATE" || keyword == "ALTER" || keyword == "DROP")
        tokens = SQLDumpTokens::tokens(sent, quotedNames);
    return tokens;
}

} // namespace

bool onlyCounts(std::string_view head) {
    std::size_t end = 0;
    while (end < head.size() && isLetter(head[end]))
        ++end;
    if (end == 0)
        return false;
    if (end < head.size()) {
        const auto next = static_cast<unsigned char>(head[end]);
        // The word goes on for the server, or the client glues it to what
        // follows a backslash command: read the whole way.
        if ((next >= '0' && next <= '9') || next == '_' || next == '$' || next >= 0x80 ||
            next == '\\')
            return false;
    }
    if (SQLDumpClientText::startsWithCommandName(head))
        return false;
    const auto is = [word = head.substr(0, end)](std::string_view keyword) {
        if (word.size() != keyword.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if ((word[i] & ~0x20) != keyword[i])
                return false;
        }
        return true;
    };
    return !is("USE") && !is("CREATE") && !is("DROP") && !is("SET") && !is("ALTER");
}

void checkWithin(std::string_view sent, bool cut, bool quotedNames) {
    std::string keyword;
    const std::vector<std::string> tokens = leading(sent, quotedNames, keyword);
    if (tokens.empty()) {
        if (cut)
            throw SelectsWithin();
        return;
    }
    refuse(keyword, tokens, sent);
    if (selecting(keyword, tokens) != Selecting::none || undecided(keyword, tokens, cut))
        throw SelectsWithin();
}

std::optional<std::string> adapt(std::string_view sent, bool cut, SQLDump::Summary& summary,
                                 std::string_view database, bool quotedNames) {
    std::string keyword;
    const std::vector<std::string> tokens = leading(sent, quotedNames, keyword);
    if (tokens.empty()) {
        // Its first words lie past the examined text, whatever they do.
        if (cut)
            throw RunsOn();
        return std::nullopt;
    }
    ++summary.statementCount;
    refuse(keyword, tokens, sent);
    if (undecided(keyword, tokens, cut))
        throw RunsOn();
    const Selecting kind = selecting(keyword, tokens);
    if (kind == Selecting::none)
        return std::nullopt;
    // The statement is exchanged whole, or rebuilt from what was read of
    // it: past the examined bytes there is certainly more than a name.
    if (cut)
        throw RunsOn();
    std::optional<std::string> named;
    std::string replacement = "\nUSE " + quoted(database);
    if (kind == Selecting::use) {
        const std::vector<std::string> whole = SQLDumpTokens::all(sent, quotedNames);
        if (whole.size() == 2)
            named = whole[1];
    } else if (kind == Selecting::create) {
        // The target takes on the database's own defaults, which its tables
        // and routines without their own rely on.
        std::string defaults;
        named = SQLDumpDatabaseStatement::created(sent, quotedNames, &defaults);
        if (!defaults.empty())
            replacement =
                "\nALTER DATABASE " + quoted(database) + " " + defaults + ";" + replacement;
    } else {
        const SQLDumpDatabaseStatement::Altered altered =
            SQLDumpDatabaseStatement::altered(sent, quotedNames);
        if (!altered.readable)
            throw RunsOn();
        if (!altered.named) {
            ++summary.alterations;
            return std::nullopt; // it alters the selected database, the target
        }
        named = altered.named->name;
        replacement = "\n" + std::string(sent.substr(0, altered.named->begin)) + quoted(database) +
                      std::string(sent.substr(altered.named->end));
    }
    if (!named)
        throw RunsOn();
    if (summary.sourceDatabase && *summary.sourceDatabase != *named)
        throw VessoraError(L10n::text("This dump selects multiple databases. Export one "
                                      "application database at a time."));
    summary.sourceDatabase = *named;
    if (kind != Selecting::alter)
        ++summary.selections;
    if (kind == Selecting::alter || replacement.starts_with("\nALTER DATABASE "))
        ++summary.alterations;
    return replacement;
}

} // namespace vessora::SQLDumpStatement
