// What the user asked a project import to do. For now it holds only the rule
// for a folder given relative to the imported project, which the environment
// record's validation applies to projectSubdirectory.
#pragma once

#include <string_view>

namespace vessora {

struct MigrationRequest {
    // True for the empty text (the project folder itself). Otherwise the text
    // must be valid UTF-8, must not begin with "/" nor hold a control or
    // format character, and every piece between "/" separators must be
    // non-empty and neither "." nor "..", so the folder stays inside the
    // project ("web/" and "a/../b" are refused).
    static bool validRelativeDirectory(std::string_view text);
};

} // namespace vessora
