// Base of test suites that run real servers from the Debian-backed Homebrew
// prefixes. The prefixes are built once per suite. Under root there are none
// and every test skips: MariaDB and PHP-FPM refuse root, and root-started web
// servers cannot read the private folders.
#pragma once

#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/BrewStandIn.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace vessora {

class RealServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        UserDefaults::setStandard(UserDefaults::inMemory());
        if (::geteuid() == 0)
            return;
        standIn = std::make_unique<BrewStandIn>();
        standIn->buildDebianPrefixes();
    }
    static void TearDownTestSuite() {
        standIn.reset();
        UserDefaults::setStandard(nullptr);
    }

    // Derived fixtures call this first and return when IsSkipped().
    void SetUp() override {
        if (!standIn)
            GTEST_SKIP() << "MariaDB and PHP-FPM refuse to run as root, and root-started web "
                            "servers cannot read the private folders: run as an unprivileged user";
    }

    static inline std::unique_ptr<BrewStandIn> standIn;
};

} // namespace vessora
