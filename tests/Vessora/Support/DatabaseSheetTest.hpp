// Base of the database sheets' tests: the model's fixture with one
// environment ("studio", application database "shop", phpMyAdmin on, every
// formula installed) and a sample inventory in the fake engine:
//
//   databases  1legacy (fails the name rule), blog, shop (primary)
//   accounts   @localhost (anonymous), localadmin@localhost,
//              mariadb.sys@localhost (all protected),
//              reporter@127.0.0.1 (blog: read only),
//              vessora@127.0.0.1 (application; shop: schema admin),
//              writer@127.0.0.1 (shop: read & write; blog: SELECT only,
//              which reads as custom)
#pragma once

#include "Vessora/App/AppPreferences.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"

#include <string>
#include <vector>

namespace vessora {

class DatabaseSheetTest : public AppModelTest {
protected:
    static std::set<std::string> privileges(DatabaseAccess level) {
        const std::vector<std::string>& names = DatabaseAccessLevels::privileges(level);
        return {names.begin(), names.end()};
    }

    static DatabaseAdminSnapshot sampleSnapshot() {
        DatabaseAdminSnapshot snapshot;
        snapshot.databases = {{"1legacy", 2, "latin1_swedish_ci", false},
                              {"blog", 4, "utf8mb4_general_ci", false},
                              {"shop", 12, "utf8mb4_general_ci", true}};
        snapshot.users = {
            {"", "localhost", false, false, {}},
            {"localadmin", "localhost", false, false, {}},
            {"mariadb.sys", "localhost", false, false, {}},
            {"reporter",
             "127.0.0.1",
             true,
             false,
             {{"blog", privileges(DatabaseAccess::readOnly)}}},
            {"vessora", "127.0.0.1", true, true, {{"shop", privileges(DatabaseAccess::admin)}}},
            {"writer",
             "127.0.0.1",
             true,
             false,
             {{"shop", privileges(DatabaseAccess::readWrite)}, {"blog", {"SELECT"}}}},
        };
        return snapshot;
    }

    void SetUp() override {
        profile = StackProfile::defaults().front();
        profile.databaseName = "shop";
        profile.phpMyAdminEnabled = true;
        engine->setProfiles({profile, StackProfile::defaults().back()});
        InstallationStatus installations;
        for (const std::string& formula : profile.formulae())
            installations.installed[formula] = true;
        engine->setInstallations(installations);
        engine->setDatabaseSnapshot(profile.id, sampleSnapshot());
    }

    void TearDown() override {
        preferences.setLanguage(AppLanguage::english);
        AppModelTest::TearDown();
    }

    // The environment as the engine reports it, seen by the next poll.
    void setRunning(bool running) {
        engine->setStatus(
            profile.id,
            running ? StackStatus{true, "Running", {{"MariaDB", 11}, {"PHP", 12}, {"nginx", 13}}}
                    : StackStatus{false, "Stopped", {}});
    }
    bool waitForRunning(bool running) {
        return waitFor([&] {
            const auto status = model().statuses().find(profile.id);
            return status != model().statuses().end() && status->second.running == running;
        });
    }
    // Starts the monitor with the environment running and waits until the
    // model shows it.
    void startRunning() {
        setRunning(true);
        startMonitor();
        ASSERT_TRUE(waitForRunning(true));
    }

    StackProfile profile;
    // On the standard defaults, which the text lookup reads.
    AppPreferences preferences;
};

} // namespace vessora
