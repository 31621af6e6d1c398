// What preparing a dump does with one statement, judged by the first
// headLimit bytes of the text the client sends for it (SQLDumpClientText),
// read as the server reads it.
//
// adapt() counts a statement that has a token, refuses what cannot load into
// one application database, and maps the dump's own database to the target:
// USE, CREATE [OR REPLACE] DATABASE and CREATE SCHEMA naming the dump's
// database come back as "\nUSE `target`" (nothing is created), a CREATE
// with a character set or collation as "\nALTER DATABASE `target` CHARACTER
// SET x COLLATE y;\nUSE `target`", so the target keeps its defaults; ALTER
// DATABASE and ALTER SCHEMA naming it come back as the same statement on
// the target. It throws VessoraError with a looked-up sentence for
//   - SET whose text mentions NO_BACKSLASH_ESCAPES in any letter case,
//   - DROP DATABASE and DROP SCHEMA,
//   - a USE, CREATE or ALTER naming a second, different database (names
//     compare byte for byte, so "Shop" differs from "shop").
// A USE that goes on after its name, a CREATE that goes on with anything but
// the clauses the server accepts after the name (SQLDumpDatabaseStatement),
// and any of them, ALTER too, whose text is `cut` (longer than the examined
// bytes) or that cannot be read to its end, throw RunsOn: the dump
// lacks a delimiter there, and exchanging the statement would drop what
// follows. So does a cut statement whose examined text ends before its
// first words tell whether it uses, creates, alters or drops a database,
// or holds no word at all (executable comments without one fill it).
// Otherwise it returns the replacement, or nothing to keep the statement.
#pragma once

#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::SQLDumpStatement {

inline constexpr std::size_t headLimit = 8192;

struct RunsOn {};
struct SelectsWithin {};

// `quotedNames`: the server may read "..." as a name (ANSI_QUOTES).
std::optional<std::string> adapt(std::string_view sent, bool cut, SQLDump::Summary& summary,
                                 std::string_view database, bool quotedNames = false);

// A further statement that the server runs from within one the client sends
// (after a ";" when the client's delimiter is another), read from the text
// after the ";": it cannot be exchanged for the target's selection, so one
// that selects, creates or alters a database (or whose first words lie past
// the examined text) throws SelectsWithin; one that drops a database or
// sets NO_BACKSLASH_ESCAPES throws as adapt() does.
void checkWithin(std::string_view sent, bool cut, bool quotedNames = false);

// Whether the statement whose bytes begin with `head` only counts: its first
// word, read as the server reads it, is none that adapt(), checkWithin() or
// the client's DELIMITER command acts on. Spares the rest of the reading on
// dumps with a statement per row.
bool onlyCounts(std::string_view head);

} // namespace vessora::SQLDumpStatement
