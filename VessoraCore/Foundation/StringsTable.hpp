// Reader of a ".strings" localization table: `"key" = "value";` pairs with
// C and line comments, and the escapes \" \\ \n \t \r \0 \' and \Uxxxx.
// A malformed table yields the pairs read before the fault, so one broken
// line never hides every translation.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace vessora::StringsTable {

std::map<std::string, std::string> parse(std::string_view text);
// An unreadable or missing file is an empty table.
std::map<std::string, std::string> load(const std::filesystem::path& file);

} // namespace vessora::StringsTable
