// The DEFINER clause of a statement that makes a view, trigger, routine or
// event, found in the statement's own bytes as the server reads them
// (executable comments count as their contents, other comments as blanks).
// The environment's application account loads the dump and may not name
// another account as an object's definer; without the clause the object
// belongs to the account that makes it. DEFINER = CURRENT_USER is already
// that account and stays.
//
// Found only where the reading is certain: the statement begins with
// CREATE [OR REPLACE] [ALGORITHM = word], the clause follows, names a user
// and host quoted with `...`, '...' or "..." (doubled quotes allowed) or
// as plain words, and no backslash comes before its end.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vessora::SQLDumpDefiner {

struct Span {
    std::size_t begin = 0; // the D of DEFINER
    std::size_t end = 0;   // just past the host
};

// The clause in `head`, a statement's first bytes from its first
// significant one.
std::optional<Span> find(std::string_view head);

// The clause's bytes as the server skips them: blanks, line feeds kept so
// that lines keep their numbers.
void blank(char* bytes, std::size_t count);

} // namespace vessora::SQLDumpDefiner
