// What preparing a dump does with one statement, judged by its head: the
// bytes from its first significant byte (past blanks, plain comments and the
// sandbox line), at most headLimit of them.
//
// adapt() counts a statement that has a token, refuses what cannot load into
// one application database, and maps the dump's own database to the target:
// USE, CREATE DATABASE and CREATE SCHEMA naming the dump's database come back
// as "\nUSE `target`" (nothing is created). It throws VessoraError with a
// looked-up sentence for
//   - SET whose head mentions NO_BACKSLASH_ESCAPES in any letter case,
//   - DROP DATABASE and DROP SCHEMA,
//   - a USE or CREATE naming a second, different database (names compare
//     byte for byte, so "Shop" differs from "shop").
// A USE that goes on after its name, or a CREATE that goes on with anything
// but the clauses the server accepts after the name (SQLDumpCreateDatabase),
// throws RunsOn: the dump lacks a delimiter there, and exchanging the
// statement would drop what follows. Otherwise it returns the replacement, or nothing to keep the
// statement.
#pragma once

#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::SQLDumpStatement {

inline constexpr std::size_t headLimit = 8192;

struct RunsOn {};

std::optional<std::string> adapt(std::string_view head, SQLDump::Summary& summary,
                                 std::string_view database);

} // namespace vessora::SQLDumpStatement
