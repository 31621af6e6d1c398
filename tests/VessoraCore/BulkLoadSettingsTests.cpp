// The bulk-load guard against a recording runner: what it reads, raises and
// puts back, on the way out of a load that succeeded, threw, or could not
// even be tuned.
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/BulkLoadSettings.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace vessora {
namespace {

using ::testing::ElementsAre;

struct Server {
    std::string answer = "1073741824\t0\n";
    std::optional<std::size_t> failingCall;
    std::vector<std::string> statements;

    BulkLoadSettings::Runner runner() {
        return [this](const std::string& statement) {
            statements.push_back(statement);
            if (failingCall && statements.size() == *failingCall)
                throw VessoraError("refused");
            return statement.find("SELECT") != std::string::npos ? answer : std::string();
        };
    }
};

const std::string raise = "SET GLOBAL innodb_flush_log_at_trx_commit=2;\n"
                          "SET GLOBAL innodb_buffer_pool_size="
                          "GREATEST(@@GLOBAL.innodb_buffer_pool_size,536870912);\n";
// The values read, not any default; the flush setting first, on its own.
const std::string restoreFlush = "SET GLOBAL innodb_flush_log_at_trx_commit=0;\n" +
                                 std::string(BulkLoadSettings::readStatement()) + "\n";
const std::string restorePool = "SET GLOBAL innodb_buffer_pool_size=1073741824;\n" +
                                std::string(BulkLoadSettings::readStatement()) + "\n";

TEST(BulkLoadSettingsTests, PutsBackWhatItReadOnEveryWayOut) {
    Server server;
    {
        const BulkLoadSettings settings(server.runner());
        EXPECT_THAT(server.statements, ElementsAre(BulkLoadSettings::readStatement(), raise));
    }
    EXPECT_THAT(server.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restorePool));

    // A load that throws.
    Server failed;
    EXPECT_EQ(thrownMessage([&] {
                  const BulkLoadSettings settings(failed.runner());
                  throw VessoraError("load failed");
              }),
              "load failed");
    EXPECT_THAT(failed.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restorePool));

    // A raise the server refuses may have changed the flush setting already.
    Server refusing;
    refusing.failingCall = 2;
    EXPECT_EQ(thrownMessage([&] { const BulkLoadSettings settings(refusing.runner()); }),
              "refused");
    EXPECT_THAT(refusing.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restorePool));
}

TEST(BulkLoadSettingsTests, APutBackTheServerDefersIsRepeatedUntilItHolds) {
    // The pool still growing: the first two put-backs read the raised size.
    Server server;
    int reads = 0;
    const BulkLoadSettings::Runner runner = [&](const std::string& statement) {
        server.statements.push_back(statement);
        ++reads;
        return reads == 1 || reads == 3 || reads > 5 ? server.answer
                                                     : std::string("536870912\t0\n");
    };
    { const BulkLoadSettings settings(runner); }
    EXPECT_THAT(server.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restorePool,
                            restorePool, restorePool));
}

// A server that resizes its pool in the background, as MariaDB does: the
// size read is the one last asked for, and while a resize runs the next one
// is refused with an error, which ends the client's batch.
class ResizingServer {
public:
    ResizingServer(std::int64_t pool, std::chrono::milliseconds resizeTime)
        : pool_(pool), resizeTime_(resizeTime) {}

    BulkLoadSettings::Runner runner() {
        return [this](const std::string& statement) {
            std::string output;
            std::istringstream lines(statement);
            for (std::string line; std::getline(lines, line);) {
                if (line.starts_with("SET GLOBAL innodb_flush_log_at_trx_commit="))
                    flush_ = std::stoll(line.substr(line.find('=') + 1));
                else if (line.starts_with("SET GLOBAL innodb_buffer_pool_size="))
                    resize(line.find("GREATEST") != std::string::npos
                               ? std::max(pool_, BulkLoadSettings::bufferPoolSize)
                               : std::stoll(line.substr(line.find('=') + 1)));
                else if (line.starts_with("SELECT"))
                    output += std::to_string(pool_) + "\t" + std::to_string(flush_) + "\n";
            }
            return output;
        };
    }

    std::int64_t pool() const { return pool_; }
    std::int64_t flush() const { return flush_; }
    int refusals() const { return refusals_; }

private:
    void resize(std::int64_t size) {
        const auto now = std::chrono::steady_clock::now();
        if (now < resizing_) {
            ++refusals_;
            throw VessoraError("mariadb failed (1):\nERROR 1210 (HY000) at line 1: Another "
                               "buffer pool resize is already in progress.");
        }
        if (size == pool_)
            return;
        pool_ = size;
        resizing_ = now + resizeTime_;
    }

    std::int64_t pool_;
    std::int64_t flush_ = 1;
    std::chrono::milliseconds resizeTime_;
    std::chrono::steady_clock::time_point resizing_{};
    int refusals_ = 0;
};

// The raise's resize runs for a few seconds; the put-back is refused until
// it ends, and must wait for it within the guard's own bound.
TEST(BulkLoadSettingsTests, APoolResizeOfAFewSecondsIsWaitedForWithTheDefaultBound) {
    constexpr std::int64_t pool = 128LL << 20;
    ResizingServer server(pool, std::chrono::seconds(3));
    {
        const BulkLoadSettings settings(server.runner());
        EXPECT_EQ(server.pool(), BulkLoadSettings::bufferPoolSize);
        EXPECT_EQ(server.flush(), 2);
    }
    EXPECT_EQ(server.flush(), 1);
    EXPECT_GT(server.refusals(), 0) << "the put-back met no running resize";
    EXPECT_EQ(server.pool(), pool) << "the raised pool was left in place";
}

// A client that fails is tried again as one the server answered otherwise,
// each part on its own, and a resize that keeps failing never keeps the
// weakened flush setting.
TEST(BulkLoadSettingsTests, APutBackThatFailsIsTriedAgainAndTheFlushSettingComesFirst) {
    // Counted runs end these put-backs, never the clock of a busy machine.
    const BulkLoadSettings::Retry quick{
        .attempts = 6, .pause = std::chrono::milliseconds(1), .limit = std::chrono::minutes(1)};
    // Once, on the first put-back run.
    Server once;
    once.failingCall = 3;
    { const BulkLoadSettings settings(once.runner(), quick); }
    EXPECT_THAT(once.statements, ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush,
                                             restoreFlush, restorePool));
    // Once, on the pool's part.
    Server later;
    later.failingCall = 4;
    { const BulkLoadSettings settings(later.runner(), quick); }
    EXPECT_THAT(later.statements, ElementsAre(BulkLoadSettings::readStatement(), raise,
                                              restoreFlush, restorePool, restorePool));

    // A server that fails every resize, as a client error: the flush
    // setting is back before the first resize, and the resize is tried
    // until the bound ends.
    std::vector<std::string> statements;
    std::string flush = "0";
    const BulkLoadSettings::Runner failingResize = [&](const std::string& statement) {
        statements.push_back(statement);
        if (statement.starts_with("SET GLOBAL innodb_buffer_pool_size=1073741824"))
            throw VessoraError("mariadb failed (1):\nERROR 1231 (42000) at line 1: Variable "
                               "'innodb_buffer_pool_size' can't be set to the value");
        if (statement.starts_with("SET GLOBAL innodb_flush_log_at_trx_commit=0"))
            flush = "0";
        else if (statement.starts_with("SET GLOBAL innodb_flush_log_at_trx_commit=2"))
            flush = "2";
        return statement.find("SELECT") != std::string::npos
                   ? std::string(statements.size() == 1 ? "1073741824" : "536870912") + "\t" +
                         flush + "\n"
                   : std::string();
    };
    {
        const BulkLoadSettings settings(failingResize, quick);
        EXPECT_EQ(flush, "2");
    }
    EXPECT_EQ(flush, "0");
    EXPECT_THAT(statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restorePool,
                            restorePool, restorePool, restorePool, restorePool));

    // One that fails always ends the guard quietly within the bound: the
    // server's next start reads its own file.
    std::vector<std::string> lost;
    const BulkLoadSettings::Runner failing = [&](const std::string& statement) -> std::string {
        lost.push_back(statement);
        if (lost.size() > 2)
            throw VessoraError("refused");
        return lost.size() == 1 ? "1073741824\t0\n" : "";
    };
    EXPECT_EQ(thrownMessage([&] { const BulkLoadSettings settings(failing, quick); }), "");
    EXPECT_THAT(lost,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restoreFlush, restoreFlush,
                            restoreFlush, restoreFlush, restoreFlush, restoreFlush, restorePool));
}

TEST(BulkLoadSettingsTests, ValuesItCannotReadChangeNothing) {
    for (const std::string answer : {"", "NULL\tNULL\n", "67108864\n", "67108864\t1\textra\n",
                                     "0\t1\n", "67108864\t7\n", "64M\t1\n"}) {
        Server server;
        server.answer = answer;
        EXPECT_EQ(thrownMessage([&] { const BulkLoadSettings settings(server.runner()); }),
                  "Could not read the database server's settings.")
            << answer;
        EXPECT_EQ(server.statements.size(), 1u) << answer;
    }
    Server plain;
    plain.answer = "67108864\t1\n";
    { const BulkLoadSettings settings(plain.runner()); }
    EXPECT_THAT(plain.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise,
                            "SET GLOBAL innodb_flush_log_at_trx_commit=1;\n" +
                                std::string(BulkLoadSettings::readStatement()) + "\n",
                            "SET GLOBAL innodb_buffer_pool_size=67108864;\n" +
                                std::string(BulkLoadSettings::readStatement()) + "\n"));
}

} // namespace
} // namespace vessora
