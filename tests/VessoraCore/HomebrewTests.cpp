#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Packages/Homebrew.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vessora;
using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const std::string notFound = "Homebrew was not found at /home/linuxbrew/.linuxbrew/bin/brew. "
                             "Install Homebrew on Linux first: "
                             "https://docs.brew.sh/Homebrew-on-Linux";

class HomebrewTests : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    // Homebrew as it looks today: unversioned formulae for the newest series,
    // versioned ones listed by them, one disabled and one deprecated series.
    json realisticState() const {
        auto php = BrewStandIn::formula("8.4.7", {"8.4.6"}, {"php@8.4"},
                                        {"php@8.3", "php@8.2", "php@8.1", "php@7.4"});
        auto mariadb = BrewStandIn::formula("11.8.2", {}, {"mariadb@11.8"},
                                            {"mariadb@11.4", "mariadb@10.11", "mariadb@10.6"});
        auto nginx = BrewStandIn::formula("1.27.4", {"1.27.4"});
        nginx["versioned_formulae"] = {"php@8.3"}; // a duplicate, asked for once
        auto phpMyAdmin = BrewStandIn::formula("5.2.2", {"5.2.1"});
        phpMyAdmin["tap"] = "someone/else"; // not looked at for the installed flag
        auto php81 = BrewStandIn::formula("8.1.32", {"8.1.30"});
        php81["disabled"] = true;
        auto mariadb106 = BrewStandIn::formula("10.6.22");
        mariadb106["deprecated"] = true;
        return {{"formulae",
                 {{"php", php},
                  {"mariadb", mariadb},
                  {"nginx", nginx},
                  {"httpd", BrewStandIn::formula("2.4.63")},
                  {"phpmyadmin", phpMyAdmin},
                  {"php@8.3", BrewStandIn::formula("8.3.20", {"8.3.19", "8.3.20"})},
                  {"php@8.2", BrewStandIn::formula("8.2.28")},
                  {"php@8.1", php81},
                  {"php@7.4", BrewStandIn::formula("7.4.33")},
                  {"mariadb@11.4", BrewStandIn::formula("11.4.5", {"11.4.5"})},
                  {"mariadb@10.11", BrewStandIn::formula("10.11.11")},
                  {"mariadb@10.6", mariadb106}}}};
    }

    void setKnob(const std::string& name, json value) const {
        auto state = standIn.state();
        state["knobs"][name] = std::move(value);
        standIn.setState(state);
    }

    BrewStandIn standIn;
    Homebrew brew{standIn.brew()};
};

TEST_F(HomebrewTests, MissingBrewFailsBeforeRunningAnything) {
    auto log = standIn.root() / "install.log";
    for (const auto& path : {standIn.root() / "no-brew", standIn.root() / "bin",
                             standIn.root() / "bin/brew-state.json"}) {
        Homebrew missing(path);
        EXPECT_EQ(thrownMessage([&] { missing.requireAvailable(); }), notFound) << path;
        EXPECT_EQ(thrownMessage([&] { missing.prefix("php@8.2"); }), notFound);
        EXPECT_EQ(thrownMessage([&] { missing.installations(); }), notFound);
        EXPECT_EQ(thrownMessage([&] { missing.install({}, log); }), notFound);
    }
    EXPECT_TRUE(standIn.calls().empty());
    EXPECT_EQ(Homebrew().executable(), VESSORA_BREW_PATH);
}

TEST_F(HomebrewTests, PrefixResolvesTheOptLink) {
    auto keg = standIn.root() / "Cellar/php@8.2/8.2.28";
    std::filesystem::create_directories(keg);
    std::filesystem::create_directories(standIn.root() / "opt");
    std::filesystem::create_directory_symlink("../Cellar/php@8.2/8.2.28",
                                              standIn.root() / "opt/php@8.2");
    auto state = realisticState();
    state["formulae"]["php@8.2"]["installed"] = {"8.2.28"};
    standIn.setState(state);

    EXPECT_EQ(brew.prefix("php@8.2"), keg);
    auto calls = standIn.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["args"], json({"--prefix", "--installed", "homebrew/core/php@8.2"}));
    EXPECT_EQ(calls[0]["env"], json::object()); // no HOMEBREW_* variables for this call
}

TEST_F(HomebrewTests, AnsweredPrefixTellsWhetherItStillLeadsToItsKeg) {
    namespace fs = std::filesystem;
    const auto keg = [&](const std::string& version) {
        fs::create_directories(standIn.root() / "Cellar/php@8.2" / version);
        return standIn.root() / "Cellar/php@8.2" / version;
    };
    const fs::path opt = standIn.root() / "opt/php@8.2";
    fs::create_directories(opt.parent_path());
    fs::create_directory_symlink("../Cellar/php@8.2/8.2.28", opt);
    const fs::path old = keg("8.2.28");
    auto state = realisticState();
    state["formulae"]["php@8.2"]["installed"] = {"8.2.28"};
    standIn.setState(state);

    const BrewPrefix answer = brew.answeredPrefix("php@8.2");
    EXPECT_EQ(answer.answered, opt);
    EXPECT_EQ(answer.keg, old);
    EXPECT_TRUE(answer.isCurrent());
    // Relinked to a new keg, as an upgrade does; then removed.
    const fs::path next = keg("8.2.29");
    fs::remove(opt);
    fs::create_directory_symlink("../Cellar/php@8.2/8.2.29", opt);
    EXPECT_FALSE(answer.isCurrent());
    EXPECT_EQ(brew.answeredPrefix("php@8.2").keg, next);
    EXPECT_TRUE(brew.answeredPrefix("php@8.2").isCurrent());
    fs::remove(opt);
    EXPECT_FALSE(answer.isCurrent());

    // An answer that is the keg itself holds while the keg is there.
    state["formulae"]["php@8.2"]["prefix"] = next.string() + "/";
    standIn.setState(state);
    const BrewPrefix direct = brew.answeredPrefix("php@8.2");
    EXPECT_EQ(direct.keg, next);
    EXPECT_FALSE(direct.link);
    EXPECT_TRUE(direct.isCurrent());
    fs::remove(next);
    EXPECT_FALSE(direct.isCurrent());
}

TEST_F(HomebrewTests, PrefixOutputThatIsNotOneAbsolutePath) {
    auto state = realisticState();
    for (const char* printed : {"relative/prefix", "", "/one\n/two"}) {
        state["formulae"]["nginx"]["prefix"] = printed;
        standIn.setState(state);
        EXPECT_EQ(thrownMessage([&] { brew.prefix("nginx"); }), "Invalid Homebrew path for nginx.")
            << printed;
    }
    state["formulae"]["nginx"].erase("prefix");
    state["knobs"]["warning"] = "Warning: something to say";
    standIn.setState(state);
    EXPECT_EQ(thrownMessage([&] { brew.prefix("nginx"); }), "Invalid Homebrew path for nginx.");
}

TEST_F(HomebrewTests, NonZeroExitIsAFailedRun) {
    standIn.setState(realisticState());
    // httpd is not installed: brew refuses with status 1.
    auto message = thrownMessage([&] { brew.prefix("httpd"); });
    EXPECT_THAT(message, StartsWith("brew failed (1):\n"));
    EXPECT_THAT(message, HasSubstr("No such keg"));

    setKnob("exit_status", 3);
    EXPECT_THAT(thrownMessage([&] { brew.installations(); }), StartsWith("brew failed (3):\n"));
}

TEST_F(HomebrewTests, InstallationsAsksBaseThenVersionedFormulae) {
    standIn.setState(realisticState());
    auto status = brew.installations();

    std::vector<std::string> ids;
    for (const auto& package : status.packages)
        ids.push_back(package.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"mariadb@11.8", "mariadb@11.4", "mariadb@10.11",
                                             "mariadb@10.6", "php@8.4", "php@8.3", "php@8.2",
                                             "php@8.1", "php@7.4", "nginx", "httpd"}));
    EXPECT_EQ(status.packages[5].installedVersion, "8.3.20");
    EXPECT_TRUE(status.packages[7].disabled);
    EXPECT_TRUE(status.packages[3].deprecated);

    std::map<std::string, bool> expected;
    for (const auto& id : ids)
        expected[id] = false;
    for (const char* id : {"php@8.4", "php@8.3", "php@8.1", "mariadb@11.4", "nginx", "phpmyadmin"})
        expected[id] = true;
    EXPECT_EQ(status.installed, expected);

    auto calls = standIn.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["args"],
              json({"info", "--json=v2", "--formula", "homebrew/core/php", "homebrew/core/mariadb",
                    "homebrew/core/nginx", "homebrew/core/httpd", "homebrew/core/phpmyadmin"}));
    EXPECT_EQ(
        calls[1]["args"],
        json({"info", "--json=v2", "--formula", "homebrew/core/mariadb@10.11",
              "homebrew/core/mariadb@10.6", "homebrew/core/mariadb@11.4", "homebrew/core/php@7.4",
              "homebrew/core/php@8.1", "homebrew/core/php@8.2", "homebrew/core/php@8.3"}));
    for (const auto& call : calls)
        EXPECT_EQ(call["env"],
                  json({{"HOMEBREW_NO_ANALYTICS", "1"}, {"HOMEBREW_NO_AUTO_UPDATE", "1"}}));
}

TEST_F(HomebrewTests, InstallationsWithoutVersionedFormulaeRunsBrewOnce) {
    auto state = realisticState();
    state["formulae"]["php"]["versioned_formulae"] = {"php-cs-fixer"};
    state["formulae"]["mariadb"]["versioned_formulae"] = json::array();
    state["formulae"]["nginx"]["versioned_formulae"] = json::array();
    state["formulae"]["phpmyadmin"]["installed"] = json::array();
    standIn.setState(state);
    auto status = brew.installations();
    EXPECT_EQ(standIn.calls().size(), 1u);
    EXPECT_EQ(status.packages.size(), 4u);
    EXPECT_FALSE(status.installed.at("phpmyadmin"));
}

TEST_F(HomebrewTests, WarningsAroundTheFormulaInformation) {
    standIn.setState(realisticState());
    setKnob("warning", "Warning: {something} is outdated");
    setKnob("warning_after", "Warning: a closing note");
    EXPECT_EQ(brew.installations().packages.size(), 11u);

    setKnob("one_line_json", true);
    EXPECT_EQ(thrownMessage([&] { brew.installations(); }),
              "Homebrew did not return readable version data.");

    auto state = realisticState();
    state["formulae"]["httpd"]["stable"] = 2.4; // a number where a text belongs
    standIn.setState(state);
    EXPECT_THROW(brew.installations(), JsonDecodingError);
}

TEST_F(HomebrewTests, InstallRunsOnlyForOfferedFormulae) {
    standIn.setState(realisticState());
    auto log = standIn.root() / "logs" / "homebrew-install.log";

    for (const char* refused : {"php@8.0", "php@8.1" /* disabled, though installed */, "wget"}) {
        EXPECT_EQ(thrownMessage([&] {
                      brew.install({"php@8.2", refused}, log);
                  }),
                  "Unsupported Homebrew formula.")
            << refused;
    }
    EXPECT_FALSE(std::filesystem::exists(log));
    for (const auto& call : standIn.calls())
        EXPECT_EQ(call["args"][0], "info");

    std::filesystem::create_directories(log.parent_path());
    PrivateFile::write(log, "earlier install\n");
    auto before = standIn.calls().size();
    brew.install({"mariadb@10.6", "php@8.2", "phpmyadmin"}, log); // deprecated is allowed
    auto calls = standIn.calls();
    ASSERT_EQ(calls.size(), before + 3); // a fresh status query, then the install
    EXPECT_EQ(calls.back()["args"], json({"install", "homebrew/core/mariadb@10.6",
                                          "homebrew/core/php@8.2", "homebrew/core/phpmyadmin"}));
    EXPECT_EQ(calls.back()["env"],
              json({{"HOMEBREW_NO_AUTO_UPDATE", "1"}, {"HOMEBREW_NO_INSTALL_CLEANUP", "1"}}));
    auto written = PrivateFile::read(log);
    EXPECT_THAT(written, StartsWith("earlier install\n==> Fetching homebrew/core/mariadb@10.6\n"));
    auto status = brew.installations();
    EXPECT_TRUE(status.installed.at("php@8.2"));
    EXPECT_TRUE(status.installed.at("mariadb@10.6"));

    before = standIn.calls().size();
    brew.install({}, log);
    EXPECT_EQ(standIn.calls().size(), before);
}

TEST_F(HomebrewTests, InstallOfFormulaeThatCannotBeServedIsRefusedWholesale) {
    // As on a Debian machine: the newest series are listed, nothing backs them.
    auto state = realisticState();
    state["formulae"]["php"]["unavailable"] = "not served here; choose php@8.2.";
    state["formulae"]["mariadb@11.4"]["unavailable"] = "not served here; choose mariadb@10.11.";
    state["formulae"]["mariadb@11.4"]["installed"] = json::array();
    standIn.setState(state);
    auto log = standIn.root() / "install.log";

    // php@8.4 reaches brew by its alias; the servable php@8.2 is not installed either.
    auto message = thrownMessage([&] {
        brew.install({"php@8.2", "php@8.4", "mariadb@11.4"}, log);
    });
    EXPECT_EQ(message, "brew failed (1):\n"
                       "Error: php@8.4: not served here; choose php@8.2.\n"
                       "Error: mariadb@11.4: not served here; choose mariadb@10.11.\n");
    EXPECT_EQ(PrivateFile::read(log), message.substr(message.find('\n') + 1));
    EXPECT_EQ(standIn.state(), state);
    auto status = brew.installations();
    EXPECT_FALSE(status.installed.at("php@8.2"));
    EXPECT_FALSE(status.installed.at("mariadb@11.4"));

    // An alias whose formula is served installs that formula.
    state["formulae"]["php"].erase("unavailable");
    state["formulae"]["php"]["installed"] = json::array();
    standIn.setState(state);
    brew.install({"php@8.4"}, log);
    EXPECT_EQ(standIn.state()["formulae"]["php"]["installed"], json({"8.4.7"}));
    EXPECT_TRUE(brew.installations().installed.at("php@8.4"));
}

TEST_F(HomebrewTests, FailedInstallReportsTheEndOfTheLog) {
    auto state = realisticState();
    state["formulae"].erase("phpmyadmin"); // absent from Homebrew: still accepted by name
    state["formulae"]["phpmyadmin"] = BrewStandIn::formula("5.2.2");
    state["knobs"]["install_fails"] = true;
    standIn.setState(state);
    auto log = standIn.root() / "install.log";
    auto message = thrownMessage([&] { brew.install({"phpmyadmin"}, log); });
    EXPECT_THAT(message, StartsWith("brew failed (1):\n==> Fetching homebrew/core/phpmyadmin\n"));
    EXPECT_THAT(message, HasSubstr("stand-in install failure"));
    EXPECT_FALSE(brew.installations().installed.at("phpmyadmin"));
}

} // namespace
