#include "VessoraCore/Import/BulkLoadSettings.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <chrono>
#include <exception>
#include <sstream>
#include <thread>
#include <utility>

namespace vessora {

namespace {

constexpr int flushOncePerSecond = 2;
// A resize still running refuses the next one; the put-back waits for it.
constexpr int restoreAttempts = 100;
constexpr std::chrono::milliseconds restorePause(100);

bool parse(const std::string& output, std::int64_t& bufferPool, std::int64_t& flushAtCommit) {
    std::istringstream values(output);
    std::string rest;
    return (values >> bufferPool >> flushAtCommit) && !(values >> rest) && bufferPool > 0 &&
           flushAtCommit >= 0 && flushAtCommit <= 3;
}

} // namespace

const char* BulkLoadSettings::readStatement() {
    return "SELECT @@GLOBAL.innodb_buffer_pool_size, @@GLOBAL.innodb_flush_log_at_trx_commit;";
}

std::string BulkLoadSettings::raiseStatement() {
    // GREATEST: a pool already larger is left as it is.
    return "SET GLOBAL innodb_flush_log_at_trx_commit=" + std::to_string(flushOncePerSecond) +
           ";\nSET GLOBAL innodb_buffer_pool_size=GREATEST(@@GLOBAL.innodb_buffer_pool_size," +
           std::to_string(bufferPoolSize) + ");\n";
}

std::string BulkLoadSettings::restoreStatement(std::int64_t bufferPool,
                                               std::int64_t flushAtCommit) {
    return "SET GLOBAL innodb_buffer_pool_size=" + std::to_string(bufferPool) +
           ";\nSET GLOBAL innodb_flush_log_at_trx_commit=" + std::to_string(flushAtCommit) + ";\n" +
           readStatement() + "\n";
}

BulkLoadSettings::BulkLoadSettings(Runner run) : run_(std::move(run)) {
    if (!parse(run_(readStatement()), bufferPool_, flushAtCommit_))
        throw VessoraError(L10n::text("Could not read the database server's settings."));
    restore_ = restoreStatement(bufferPool_, flushAtCommit_);
    try {
        run_(raiseStatement());
    } catch (const std::exception&) {
        // The flush setting may have changed before the resize failed.
        restore();
        throw;
    }
}

BulkLoadSettings::~BulkLoadSettings() {
    restore();
}

void BulkLoadSettings::restore() noexcept {
    try {
        for (int attempt = 0; attempt < restoreAttempts; ++attempt) {
            std::int64_t bufferPool = 0;
            std::int64_t flushAtCommit = -1;
            if (parse(run_(restore_), bufferPool, flushAtCommit) && bufferPool == bufferPool_ &&
                flushAtCommit == flushAtCommit_)
                return;
            std::this_thread::sleep_for(restorePause);
        }
    } catch (...) {
        // Lost only until the server's next start, which reads its file.
    }
}

} // namespace vessora
