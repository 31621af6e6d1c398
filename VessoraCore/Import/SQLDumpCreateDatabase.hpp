// The database a CREATE DATABASE or CREATE SCHEMA statement makes, read the
// way the server reads it, for a statement that preparation exchanges whole
// for a selection of the target: anything in it after the name other than
// what the server accepts there would be lost with it.
//
// Accepted after the name, in any order and repetition:
//   [DEFAULT] {CHARACTER SET | CHAR SET | CHARSET} [=] value
//   [DEFAULT] COLLATE [=] value
//   COMMENT [=] 'text'
// where a value is a word, a `name` or a quoted text, and the whole content
// of any executable comment ("/*!..." and "/*M!...", with or without
// version digits), whatever it holds: the server runs or skips it by its
// version, and either way it belongs to this statement. Quotes keep a
// delimiter or comment opener in a comment text from counting; blanks and
// plain comments are skipped. Keywords compare in any letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora::SQLDumpCreateDatabase {

// The named database (a `name` without its backticks, any other name as
// written), or nothing when the statement is no CREATE DATABASE/SCHEMA with
// a name or goes on past the clauses above (a missing delimiter), or a quote
// or comment in it is left open.
std::optional<std::string> name(std::string_view statement);

} // namespace vessora::SQLDumpCreateDatabase
