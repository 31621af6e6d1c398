#include "tests/Support/ScratchMariaDB.hpp"

#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace vessora {

namespace fs = std::filesystem;

namespace {

std::string loginName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "";
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Enough for every answer these tests read; more is cut, never emptied.
constexpr std::size_t answerLimit = std::size_t(16) << 20;

// A statement as the server keeps it: without the blanks, control bytes
// and semicolons around it.
std::string asLogged(std::string_view text) {
    const auto trimmed = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || byte == ';';
    };
    while (!text.empty() && trimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && trimmed(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

// The length of the UTF-8 sequence at `at`, or 0 when none starts there.
std::size_t sequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// The text as the log keeps it: a byte that begins no UTF-8 sequence the
// server stores as "\xHH".
std::string asText(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = sequenceAt(bytes, at);
        if (length == 0) {
            const auto byte = static_cast<unsigned char>(bytes[at++]);
            text += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

} // namespace

ScratchMariaDB::ScratchMariaDB(const fs::path& folder) : folder_(folder) {
    fs::create_directories(folder_ / "tmp");
    const CommandResult install =
        Command::run("/usr/bin/mariadb-install-db",
                     {"--no-defaults", "--datadir=" + (folder_ / "data").string(),
                      "--auth-root-authentication-method=socket",
                      "--auth-root-socket-user=" + loginName(), "--skip-test-db"},
                     {.timeout = 180, .environment = {{"TMPDIR", (folder_ / "tmp").string()}}});
    if (install.status != 0)
        throw std::runtime_error("mariadb-install-db failed:\n" + install.output);
    server_ = std::make_unique<ManagedProcess>(
        "MariaDB", "/usr/sbin/mariadbd",
        std::vector<std::string>{
            "--no-defaults", "--datadir=" + (folder_ / "data").string(),
            "--socket=" + (folder_ / "mysql.sock").string(), "--skip-networking",
            "--pid-file=" + (folder_ / "mariadb.pid").string(),
            "--log-error=" + (folder_ / "error.log").string(),
            "--tmpdir=" + (folder_ / "tmp").string(), "--max-allowed-packet=64M"},
        folder_ / "server.log");
    // The server answers on its socket once it accepts statements; each
    // attempt is a real query, bounded in number.
    for (int attempt = 0; attempt < 240 && server_->isRunning(); ++attempt) {
        if (sql("SELECT 1").status == 0) {
            const CommandResult logged =
                sql("SET GLOBAL general_log = 0; SET GLOBAL log_output = 'TABLE';"
                    "ALTER TABLE mysql.general_log MODIFY argument LONGTEXT CHARACTER SET utf8mb4 "
                    "COLLATE utf8mb4_bin NOT NULL;");
            if (logged.status != 0)
                throw std::runtime_error("The general log could not be set up:\n" + logged.output);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    stop();
    throw std::runtime_error("MariaDB did not answer:\n" + readFile(folder_ / "error.log"));
}

ScratchMariaDB::~ScratchMariaDB() {
    stop();
}

void ScratchMariaDB::stop() {
    if (!server_)
        return;
    server_->terminate();
    for (int i = 0; i < 300 && server_->isRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (server_->isRunning()) {
        server_->signal(SIGKILL);
        for (int i = 0; i < 50 && server_->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    server_.reset();
}

std::vector<std::string> ScratchMariaDB::connection(const std::string& account) const {
    return {"--no-defaults", "--socket=" + (folder_ / "mysql.sock").string(),
            "--user=" + (account.empty() ? loginName() : account),
            "--default-character-set=utf8mb4"};
}

CommandResult ScratchMariaDB::sql(const std::string& statements, const std::string& account) const {
    std::vector<std::string> arguments = connection(account);
    arguments.insert(arguments.end(), {"--batch", "--skip-column-names"});
    return Command::run("/usr/bin/mariadb", arguments,
                        {.timeout = 120, .input = statements, .outputLimit = answerLimit});
}

std::string ScratchMariaDB::value(const std::string& query, const std::string& account) const {
    const CommandResult result = sql(query, account);
    std::string text = result.status == 0 ? result.output : "failed: " + result.output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

CommandResult ScratchMariaDB::load(const fs::path& file, const std::string& database,
                                   const std::string& account, bool force) const {
    std::vector<std::string> arguments = connection(account);
    if (!database.empty())
        arguments.push_back("--database=" + database);
    arguments.insert(arguments.end(), {"--sandbox", "--binary-mode", "--local-infile=0",
                                       "--skip-reconnect", "--batch"});
    if (force)
        arguments.push_back("--force");
    return Command::run("/usr/bin/mariadb", arguments,
                        {.timeout = 120, .inputFile = file, .outputLimit = 1 << 20});
}

std::vector<std::string> ScratchMariaDB::sentStatements(const fs::path& file,
                                                        const std::string& database,
                                                        const std::string& account,
                                                        const std::string& before) const {
    sql(before + "\nSET GLOBAL general_log = 1; TRUNCATE mysql.general_log;");
    load(file, database, account, true);
    const CommandResult logged =
        sql("SET GLOBAL general_log = 0; SELECT HEX(argument) FROM mysql.general_log WHERE "
            "user_host LIKE '" +
            account + "[" + account + "]%' AND command_type = 'Query'");
    std::vector<std::string> statements;
    std::istringstream lines(logged.output);
    for (std::string line; std::getline(lines, line);) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < line.size(); i += 2)
            bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        statements.push_back(bytes);
    }
    return statements;
}

CommandResult ScratchMariaDB::dump(const fs::path& file,
                                   const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = connection({});
    arguments.push_back("--result-file=" + file.string());
    arguments.insert(arguments.end(), options.begin(), options.end());
    return Command::run("/usr/bin/mariadb-dump", arguments, {.timeout = 120});
}

std::string differingStatements(const std::vector<std::string>& read,
                                const std::vector<std::string>& sent) {
    for (std::size_t i = 0; i < std::max(read.size(), sent.size()); ++i) {
        const bool cut = i < read.size() && read[i].size() >= SQLDumpStatement::headLimit;
        // A head may end within a character: its last bytes are left out.
        const std::string mine =
            i < read.size()
                ? asText(asLogged(cut ? std::string_view(read[i]).substr(0, read[i].size() - 4)
                                      : std::string_view(read[i])))
                : "(none)";
        const std::string theirs = i < sent.size() ? asLogged(sent[i]) : "(none)";
        if (cut ? theirs.starts_with(mine) : theirs == mine)
            continue;
        return "statement " + std::to_string(i + 1) + " of " + std::to_string(sent.size()) +
               " sent:\n[" + theirs.substr(0, 400) + "]\nread as:\n[" + mine.substr(0, 400) + "]";
    }
    return "";
}

} // namespace vessora
