// The bulk-load guard against a recording runner: what it reads, raises and
// puts back, on the way out of a load that succeeded, threw, or could not
// even be tuned.
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/BulkLoadSettings.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
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
// The values read, not any default.
const std::string restore = "SET GLOBAL innodb_buffer_pool_size=1073741824;\n"
                            "SET GLOBAL innodb_flush_log_at_trx_commit=0;\n" +
                            std::string(BulkLoadSettings::readStatement()) + "\n";

TEST(BulkLoadSettingsTests, PutsBackWhatItReadOnEveryWayOut) {
    Server server;
    {
        const BulkLoadSettings settings(server.runner());
        EXPECT_THAT(server.statements, ElementsAre(BulkLoadSettings::readStatement(), raise));
    }
    EXPECT_THAT(server.statements, ElementsAre(BulkLoadSettings::readStatement(), raise, restore));

    // A load that throws.
    Server failed;
    EXPECT_EQ(thrownMessage([&] {
                  const BulkLoadSettings settings(failed.runner());
                  throw VessoraError("load failed");
              }),
              "load failed");
    EXPECT_THAT(failed.statements, ElementsAre(BulkLoadSettings::readStatement(), raise, restore));

    // A raise the server refuses may have changed the flush setting already.
    Server refusing;
    refusing.failingCall = 2;
    EXPECT_EQ(thrownMessage([&] { const BulkLoadSettings settings(refusing.runner()); }),
              "refused");
    EXPECT_THAT(refusing.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restore));

    // A failed put-back ends the guard quietly: the server's next start
    // reads its own file.
    Server lost;
    lost.failingCall = 3;
    EXPECT_EQ(thrownMessage([&] { const BulkLoadSettings settings(lost.runner()); }), "");
    EXPECT_EQ(lost.statements.size(), 3u);
}

TEST(BulkLoadSettingsTests, APutBackTheServerDefersIsRepeatedUntilItHolds) {
    // The pool still growing: the first two put-backs read the raised size.
    Server server;
    int reads = 0;
    const BulkLoadSettings::Runner runner = [&](const std::string& statement) {
        server.statements.push_back(statement);
        ++reads;
        return reads == 1 || reads > 4 ? server.answer : std::string("536870912\t0\n");
    };
    { const BulkLoadSettings settings(runner); }
    EXPECT_THAT(server.statements,
                ElementsAre(BulkLoadSettings::readStatement(), raise, restore, restore, restore));
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
    EXPECT_EQ(plain.statements.back(), "SET GLOBAL innodb_buffer_pool_size=67108864;\n"
                                       "SET GLOBAL innodb_flush_log_at_trx_commit=1;\n" +
                                           std::string(BulkLoadSettings::readStatement()) + "\n");
}

} // namespace
} // namespace vessora
