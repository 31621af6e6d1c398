// How a project connects to its environment's database as the application
// account. Host and user are fixed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vessora {

struct DatabaseCredentials {
    static constexpr std::string_view host = "127.0.0.1";
    static constexpr std::string_view user = "vessora";
    std::string database;
    std::int64_t port = 0;
    std::string password;

    bool operator==(const DatabaseCredentials&) const = default;
};

} // namespace vessora
