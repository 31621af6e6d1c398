// Debian's MariaDB server on a private data folder and socket, without
// network, for tests that drive the real client and dump tool: statements
// as the administrator (the login user, by socket) or as another account,
// loads with the client options the engine uses for an import, and the
// statements the client sends as the server's general log keeps them (as
// text: bytes that are no UTF-8 as "\xHH"). Stopped when dropped.
#pragma once

#include "VessoraCore/Process/CommandResult.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vessora {

class ScratchMariaDB {
public:
    // Installs the data folder and waits until the socket answers a query.
    explicit ScratchMariaDB(const std::filesystem::path& folder);
    ~ScratchMariaDB();
    ScratchMariaDB(const ScratchMariaDB&) = delete;
    ScratchMariaDB& operator=(const ScratchMariaDB&) = delete;

    // The administrator is the empty account name.
    CommandResult sql(const std::string& statements, const std::string& account = {}) const;
    // The output without its last line feed, or "failed: " and the output.
    std::string value(const std::string& query, const std::string& account = {}) const;

    // `file` through the client with the engine's import options, as
    // `account` into `database` (none when empty); `force` goes on past
    // errors.
    CommandResult load(const std::filesystem::path& file, const std::string& database,
                       const std::string& account, bool force = false) const;

    // The statements the client sends for `file` loaded as `account` into
    // `database` past errors, as the general log holds them; `before` runs
    // first as the administrator.
    std::vector<std::string> sentStatements(const std::filesystem::path& file,
                                            const std::string& database, const std::string& account,
                                            const std::string& before = {}) const;

    CommandResult dump(const std::filesystem::path& file,
                       const std::vector<std::string>& options) const;

private:
    std::vector<std::string> connection(const std::string& account) const;
    void stop();

    std::filesystem::path folder_;
    std::unique_ptr<ManagedProcess> server_;
};

// What differs between the statements preparation read and those the
// client sent, or the empty text; what was read is compared as the log
// keeps text. A statement read only as far as its examined head must begin
// the one sent.
std::string differingStatements(const std::vector<std::string>& read,
                                const std::vector<std::string>& sent);

} // namespace vessora
