// The database a CREATE or ALTER DATABASE statement names, read the way the
// server reads the text the client sends it.
//
// CREATE [OR REPLACE] {DATABASE | SCHEMA} [IF NOT EXISTS] name, which
// preparation exchanges whole for a selection of the target: anything after
// the name other than what the server accepts there would be lost with it.
// Accepted after the name, in any order and repetition:
//   [DEFAULT] {CHARACTER SET | CHAR SET | CHARSET} [=] value
//   [DEFAULT] COLLATE [=] value
//   COMMENT [=] 'text'
//   [DEFAULT] ENCRYPTION [=] 'Y' | 'N'   (MySQL 8 writes it)
// where a value is a word, a `name` or a quoted text. Inside an executable
// comment ("/*!", "/*M!", with or without version digits) the same clauses
// and nothing else, whatever the version. Blanks and comments are skipped,
// a comment of version 999999 too (no server runs it); quotes keep a
// delimiter or comment opener in a comment text from counting. Keywords
// compare in any letter case.
//
// ALTER {DATABASE | SCHEMA} [name] ...: the server takes the word after
// DATABASE as the name unless it is CHARACTER, CHAR, DEFAULT, COLLATE or
// COMMENT; without a name the statement acts on the selected database.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::SQLDumpDatabaseStatement {

// The created database (a `name` without its backticks, any other name as
// written), or nothing when the statement is no CREATE DATABASE/SCHEMA with
// a name or goes on past the clauses above (a missing delimiter), or a quote
// or comment in it is left open.
// `quotedNames`: the server's ANSI_QUOTES mode, where "..." is a name.
// `defaults` gets the character set and collation clauses it gives the
// database ("CHARACTER SET latin1 COLLATE latin1_swedish_ci"), empty when
// it gives none.
std::optional<std::string> created(std::string_view statement, bool quotedNames = false,
                                   std::string* defaults = nullptr);

struct Named {
    std::string name;  // as created() gives it
    std::size_t begin; // where the name stands in the statement, quotes included
    std::size_t end;
};

struct Altered {
    bool readable = false;      // an ALTER DATABASE/SCHEMA without a quote or comment left open
    std::optional<Named> named; // none: it acts on the selected database
};

Altered altered(std::string_view statement, bool quotedNames = false);

} // namespace vessora::SQLDumpDatabaseStatement
