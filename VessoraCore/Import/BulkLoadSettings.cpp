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

std::string BulkLoadSettings::restoreFlushStatement(std::int64_t flushAtCommit) {
    return "SET GLOBAL innodb_flush_log_at_trx_commit=" + std::to_string(flushAtCommit) + ";\n" +
           readStatement() + "\n";
}

std::string BulkLoadSettings::restorePoolStatement(std::int64_t bufferPool) {
    return "SET GLOBAL innodb_buffer_pool_size=" + std::to_string(bufferPool) + ";\n" +
           readStatement() + "\n";
}

BulkLoadSettings::BulkLoadSettings(Runner run) : BulkLoadSettings(std::move(run), Retry()) {}

BulkLoadSettings::BulkLoadSettings(Runner run, Retry retry) : run_(std::move(run)), retry_(retry) {
    if (!parse(run_(readStatement()), bufferPool_, flushAtCommit_))
        throw VessoraError(L10n::text("Could not read the database server's settings."));
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
    const auto deadline = std::chrono::steady_clock::now() + retry_.limit;
    int attempts = 0;
    // Durability first: the resize may fail or keep being refused.
    putBack(
        restoreFlushStatement(flushAtCommit_),
        [this](std::int64_t, std::int64_t flushAtCommit) {
            return flushAtCommit == flushAtCommit_;
        },
        attempts, deadline);
    putBack(
        restorePoolStatement(bufferPool_),
        [this](std::int64_t bufferPool, std::int64_t) { return bufferPool == bufferPool_; },
        attempts, deadline);
    // What still differs is lost only until the server's next start, which
    // reads its file.
}

bool BulkLoadSettings::putBack(const std::string& statement,
                               const std::function<bool(std::int64_t, std::int64_t)>& holds,
                               int& attempts,
                               std::chrono::steady_clock::time_point deadline) noexcept {
    for (bool first = true;; first = false) {
        if (!first) {
            if (attempts >= retry_.attempts || std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(retry_.pause);
        }
        ++attempts;
        try {
            std::int64_t bufferPool = 0;
            std::int64_t flushAtCommit = -1;
            if (parse(run_(statement), bufferPool, flushAtCommit) &&
                holds(bufferPool, flushAtCommit))
                return true;
        } catch (...) {
            // A client that failed, as one the server answered otherwise.
        }
    }
}

} // namespace vessora
