#include "VessoraCore/Import/SQLDumpStatement.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpCreateDatabase.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"

#include <vector>

namespace vessora::SQLDumpStatement {

namespace {

bool isDatabaseWord(const std::string& token) {
    const std::string word = UnicodeText::uppercased(token);
    return word == "DATABASE" || word == "SCHEMA";
}

// Where the database name stands among the tokens of a USE or CREATE
// DATABASE/SCHEMA statement, if the statement names one.
std::optional<std::size_t> nameIndex(const std::string& keyword,
                                     const std::vector<std::string>& tokens) {
    if (keyword == "USE")
        return tokens.size() < 2 ? std::nullopt : std::optional<std::size_t>(1);
    if (keyword != "CREATE" || tokens.size() < 2 || !isDatabaseWord(tokens[1]))
        return std::nullopt;
    std::size_t next = 2;
    if (tokens.size() >= next + 3 && UnicodeText::uppercased(tokens[next]) == "IF" &&
        UnicodeText::uppercased(tokens[next + 1]) == "NOT" &&
        UnicodeText::uppercased(tokens[next + 2]) == "EXISTS")
        next += 3;
    if (next >= tokens.size())
        return std::nullopt;
    return next;
}

std::string selection(std::string_view database) {
    std::string statement = "\nUSE `";
    for (char c : database) {
        if (c == '`')
            statement += '`';
        statement += c;
    }
    return statement + "`";
}

// Most statements start with a plain word such as INSERT: then that word is
// the first token, and unless it is one of the four keywords that matter
// the statement only counts. Saves the tokenizer on dumps with a statement
// per row.
bool plainStatement(std::string_view head) {
    std::size_t end = 0;
    while (end < head.size()) {
        const char c = head[end];
        if (static_cast<unsigned char>(c) <= 0x20 || c == '(' || c == ')' || c == ';' || c == '/' ||
            c == '`')
            break;
        if (static_cast<unsigned char>(c) >= 0x80)
            return false; // upper case beyond ASCII: the tokenizer's way
        ++end;
    }
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (end == 0 || !isLetter(head[0]))
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
    return !is("USE") && !is("CREATE") && !is("DROP") && !is("SET");
}

} // namespace

std::optional<std::string> adapt(std::string_view head, SQLDump::Summary& summary,
                                 std::string_view database) {
    head = head.substr(0, headLimit);
    if (plainStatement(head)) {
        ++summary.statementCount;
        return std::nullopt;
    }
    const std::vector<std::string> tokens = SQLDumpTokens::tokens(head);
    if (tokens.empty())
        return std::nullopt;
    ++summary.statementCount;
    const std::string keyword = UnicodeText::uppercased(tokens[0]);
    if (keyword == "SET" &&
        UnicodeText::uppercased(head).find("NO_BACKSLASH_ESCAPES") != std::string::npos)
        throw VessoraError(
            L10n::text("Export SQL using the default string-escape mode before importing."));
    if (keyword == "DROP" && tokens.size() >= 2 && isDatabaseWord(tokens[1]))
        throw VessoraError(L10n::text("The dump drops a database. Export a single application "
                                      "database without DROP DATABASE."));
    const std::optional<std::size_t> at = nameIndex(keyword, tokens);
    if (!at)
        return std::nullopt;
    // The statement is exchanged whole, so anything after the name (a
    // missing delimiter) would be lost with it. Past the examined head
    // there is certainly more than a name.
    if (head.size() >= headLimit)
        throw RunsOn();
    std::optional<std::string> named;
    if (keyword == "USE") {
        const std::vector<std::string> whole = SQLDumpTokens::all(head);
        if (whole.size() == *at + 1)
            named = whole[*at];
    } else {
        named = SQLDumpCreateDatabase::name(head);
    }
    if (!named)
        throw RunsOn();
    if (summary.sourceDatabase && *summary.sourceDatabase != *named)
        throw VessoraError(L10n::text("This dump selects multiple databases. Export one "
                                      "application database at a time."));
    summary.sourceDatabase = *named;
    return selection(database);
}

} // namespace vessora::SQLDumpStatement
