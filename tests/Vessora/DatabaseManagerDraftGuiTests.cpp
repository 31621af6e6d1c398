// The database management sheet's controller with the fake engine: when the
// inventory loads, which account is selected, pending access levels, the
// password rule, and every change's success and failure flow, including
// the engine's refusals and a failure in the middle of a change list.
#include "Vessora/Sheets/DatabaseManagerDraft.hpp"
#include "tests/Vessora/Support/DatabaseSheetTest.hpp"

#include <gmock/gmock.h>

#include <memory>

namespace vessora {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Pair;

const std::string applicationID = "vessora@127.0.0.1";
const std::string appliedNotice =
    "Changes applied. Reconnect clients to use their current permissions and password.";

class DatabaseManagerDraftTest : public DatabaseSheetTest {
protected:
    DatabaseManagerDraft& draft() {
        if (!draft_)
            draft_ = std::make_unique<DatabaseManagerDraft>(model(), profile);
        return *draft_;
    }
    // Runs the sheet's load rule with the environment running and waits for
    // the inventory.
    void load() {
        startRunning();
        draft().startLoading();
        ASSERT_TRUE(waitFor([&] { return draft().snapshot().has_value() && !model().busy(); }));
    }
    // Waits for the running action and its reloads.
    void settle() { ASSERT_TRUE(waitForIdle()); }

    const DatabaseAccount* account(const std::string& id) {
        for (const DatabaseAccount& account : draft().snapshot()->users)
            if (account.id() == id)
                return &account;
        return nullptr;
    }

    void TearDown() override {
        engine->releaseAll();
        draft_.reset();
        DatabaseSheetTest::TearDown();
    }

    std::unique_ptr<DatabaseManagerDraft> draft_;
};

TEST_F(DatabaseManagerDraftTest, LoadsOncePerRunningPeriodAndSelectsTheApplicationAccount) {
    load();
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 1);
    EXPECT_TRUE(draft().attemptedLoad());
    EXPECT_EQ(draft().snapshot(), sampleSnapshot());
    EXPECT_EQ(draft().selectedUserID(), applicationID);
    // One entry per manageable database: 1legacy fails the name rule.
    EXPECT_THAT(draft().access(), ElementsAre(Pair("blog", DatabaseAccess::none),
                                              Pair("shop", DatabaseAccess::admin)));
    EXPECT_FALSE(draft().dirty());
    EXPECT_FALSE(draft().error());
    EXPECT_FALSE(draft().notice());

    // Further polls while it runs load nothing more.
    const int polls = engine->calls("statuses");
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= polls + 3; }));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 1);

    // Seen stopped: the inventory is forgotten; the next start loads it again.
    setRunning(false);
    ASSERT_TRUE(waitFor([&] { return !draft().snapshot(); }));
    EXPECT_FALSE(draft().attemptedLoad());
    setRunning(true);
    ASSERT_TRUE(waitFor([&] { return draft().snapshot().has_value(); }));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 2);
}

TEST_F(DatabaseManagerDraftTest, AFailedLoadIsShownAndRepeatedOnlyByRefresh) {
    engine->fail("databaseAdminSnapshot", "The inventory could not be read.");
    startRunning();
    draft().startLoading();
    ASSERT_TRUE(waitFor([&] { return draft().error().has_value() && !model().busy(); }));
    EXPECT_EQ(draft().error(), "The inventory could not be read.");
    EXPECT_EQ(model().error(), "The inventory could not be read.");
    EXPECT_FALSE(draft().snapshot());
    EXPECT_TRUE(draft().attemptedLoad());
    const int polls = engine->calls("statuses");
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= polls + 3; }));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 1);

    engine->fail("databaseAdminSnapshot", std::nullopt);
    draft().refresh();
    settle();
    EXPECT_FALSE(draft().error());
    EXPECT_EQ(draft().snapshot(), sampleSnapshot());
    EXPECT_EQ(model().activity(), "Done");
}

TEST_F(DatabaseManagerDraftTest, NothingStartsWhileAnotherActionRuns) {
    startRunning();
    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing…", false,
                                [](AppEngine& running) { running.install("studio"); }));
    ASSERT_TRUE(waitUntilHeld("install"));
    // The load rule waits, and refresh() and perform() do nothing at all.
    draft().startLoading();
    draft().refresh();
    EXPECT_FALSE(draft().attemptedLoad());
    draft().perform(std::nullopt, {}, [](AppEngine& running) { running.stop("studio"); });
    EXPECT_EQ(engine->calls("stop"), 0);
    // When the action ends, the load rule loads.
    engine->release("install");
    ASSERT_TRUE(waitFor([&] { return draft().snapshot().has_value(); }));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 1);
}

TEST_F(DatabaseManagerDraftTest, ApplyChoosesTheWantedThenTheApplicationThenTheFirstAccount) {
    DatabaseAdminSnapshot snapshot = sampleSnapshot();
    draft().apply(snapshot, std::string("writer@127.0.0.1"));
    EXPECT_EQ(draft().selectedUserID(), "writer@127.0.0.1");
    EXPECT_THAT(draft().access(), ElementsAre(Pair("blog", DatabaseAccess::custom),
                                              Pair("shop", DatabaseAccess::readWrite)));
    // Without a wanted id the current selection stays while it exists.
    draft().apply(snapshot, std::nullopt);
    EXPECT_EQ(draft().selectedUserID(), "writer@127.0.0.1");
    draft().apply(snapshot, std::string("gone@127.0.0.1"));
    EXPECT_EQ(draft().selectedUserID(), applicationID);

    snapshot.users.erase(snapshot.users.begin() + 4); // the application account
    draft().apply(snapshot, std::string("gone@127.0.0.1"));
    EXPECT_EQ(draft().selectedUserID(), "@localhost");
    EXPECT_EQ(draft().user()->name, "");
    EXPECT_FALSE(draft().dirty());

    snapshot.users.clear();
    draft().apply(snapshot, std::nullopt);
    EXPECT_FALSE(draft().selectedUserID());
    EXPECT_FALSE(draft().user());
    EXPECT_FALSE(draft().dirty());
    EXPECT_TRUE(draft().access().empty());
}

TEST_F(DatabaseManagerDraftTest, PendingLevelsMakeTheDraftDirtyUntilDiscardedOrReselected) {
    draft().apply(sampleSnapshot(), std::string("writer@127.0.0.1"));
    draft().setAccess("shop", DatabaseAccess::admin);
    EXPECT_TRUE(draft().dirty());
    EXPECT_FALSE(draft().canDismiss());
    draft().setAccess("shop", DatabaseAccess::readWrite);
    EXPECT_FALSE(draft().dirty());
    // Choosing "Custom (unchanged)" again keeps the stored set.
    draft().setAccess("blog", DatabaseAccess::readOnly);
    EXPECT_TRUE(draft().dirty());
    draft().setAccess("blog", DatabaseAccess::custom);
    EXPECT_FALSE(draft().dirty());

    draft().setAccess("blog", DatabaseAccess::none);
    draft().resetAccess();
    EXPECT_FALSE(draft().dirty());
    EXPECT_EQ(draft().access().at("blog"), DatabaseAccess::custom);

    draft().setAccess("blog", DatabaseAccess::none);
    draft().setSelectedUserID(std::string("reporter@127.0.0.1"));
    EXPECT_FALSE(draft().dirty());
    EXPECT_THAT(draft().access(), ElementsAre(Pair("blog", DatabaseAccess::readOnly),
                                              Pair("shop", DatabaseAccess::none)));
}

TEST_F(DatabaseManagerDraftTest, ASecretIsNonEmptyAtMost256BytesWithoutControlsAndConfirmed) {
    const auto valid = [&](const std::string& password, const std::string& confirmation) {
        draft().setPassword(password);
        draft().setConfirmation(confirmation);
        return draft().validSecret();
    };
    EXPECT_TRUE(valid(std::string(256, 'a'), std::string(256, 'a')));
    EXPECT_FALSE(valid(std::string(257, 'a'), std::string(257, 'a')));
    std::string twoByte;
    for (int i = 0; i < 128; ++i)
        twoByte += "\xC3\xA9";
    EXPECT_TRUE(valid(twoByte, twoByte));
    EXPECT_FALSE(valid(twoByte + "\xC3\xA9", twoByte + "\xC3\xA9"));
    EXPECT_FALSE(valid("pass\tword", "pass\tword"));
    EXPECT_FALSE(valid("pass\nword", "pass\nword"));
    EXPECT_FALSE(valid("", ""));
    EXPECT_FALSE(valid("secret", "Secret"));
    EXPECT_TRUE(valid(" spaced ", " spaced "));
    // The same letter composed or decomposed is the same text.
    EXPECT_TRUE(valid("caf\xC3\xA9", "cafe\xCC\x81"));
}

TEST_F(DatabaseManagerDraftTest, SaveAccessSendsTheDifferingLevelsWithWhatTheWindowSaw) {
    load();
    draft().setSelectedUserID(std::string("writer@127.0.0.1"));
    draft().setAccess("shop", DatabaseAccess::admin);
    draft().saveAccess(*draft().user());
    settle();
    EXPECT_THAT(engine->log(),
                Contains("setDatabaseAccess(studio, writer@127.0.0.1, shop=Schema admin)"));
    EXPECT_EQ(draft().notice(), appliedNotice);
    EXPECT_FALSE(draft().error());
    EXPECT_EQ(draft().selectedUserID(), "writer@127.0.0.1");
    EXPECT_EQ(draft().user()->access("shop"), DatabaseAccess::admin);
    EXPECT_FALSE(draft().dirty());
    EXPECT_EQ(model().activity(), "Done");

    // With nothing pending the call is still made, with an empty list.
    draft().saveAccess(*draft().user());
    settle();
    EXPECT_THAT(engine->log(), Contains("setDatabaseAccess(studio, writer@127.0.0.1)"));
    EXPECT_EQ(draft().notice(), appliedNotice);
}

TEST_F(DatabaseManagerDraftTest, AFailureInTheMiddleOfAChangeListShowsTheServersState) {
    load();
    draft().setSelectedUserID(std::string("reporter@127.0.0.1"));
    draft().setAccess("blog", DatabaseAccess::readWrite);
    draft().setAccess("shop", DatabaseAccess::readOnly);
    const std::string failure = "Database operation failed (ERROR 1142 (42000)). Refresh to "
                                "review the current state. No existing data was deleted.";
    engine->failAccessChangeAfter(1, failure);
    const int loads = engine->calls("databaseAdminSnapshot");
    draft().saveAccess(*draft().user());
    settle();
    EXPECT_EQ(draft().error(), failure);
    EXPECT_EQ(model().error(), failure);
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_FALSE(draft().notice());
    // The inventory was read again once: the first change stayed applied.
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), loads + 1);
    EXPECT_EQ(draft().selectedUserID(), "reporter@127.0.0.1");
    EXPECT_EQ(draft().user()->access("blog"), DatabaseAccess::readWrite);
    EXPECT_EQ(draft().user()->access("shop"), DatabaseAccess::none);
    EXPECT_THAT(draft().access(), ElementsAre(Pair("blog", DatabaseAccess::readWrite),
                                              Pair("shop", DatabaseAccess::none)));
    EXPECT_FALSE(draft().dirty());
}

TEST_F(DatabaseManagerDraftTest, ARefusedChangeKeepsTheFormAndShowsTheFreshInventory) {
    load();
    // Another client gave the account more meanwhile.
    DatabaseAdminSnapshot changed = sampleSnapshot();
    changed.users[3].privileges["blog"].insert("INSERT");
    engine->setDatabaseSnapshot(profile.id, changed);
    draft().setSelectedUserID(std::string("reporter@127.0.0.1"));
    draft().setAccess("blog", DatabaseAccess::none);
    draft().saveAccess(*draft().user());
    settle();
    EXPECT_EQ(draft().error(),
              "Permissions changed in another client. Refresh and review them before saving.");
    EXPECT_EQ(draft().user()->access("blog"), DatabaseAccess::custom);
    EXPECT_EQ(engine->databaseSnapshot(profile.id), changed);

    // A name the engine refuses: the form stays open with what was typed.
    draft().openNewUser();
    draft().setUserName("root");
    draft().setPassword("secret");
    draft().setConfirmation("secret");
    ASSERT_TRUE(draft().canCreateUser());
    draft().createUser();
    settle();
    EXPECT_TRUE(draft().showUser());
    EXPECT_EQ(draft().userName(), "root");
    EXPECT_EQ(draft().password(), "secret");
    EXPECT_EQ(draft().error(), "Use 1–80 letters, numbers, underscores or hyphens for the user "
                               "name. Start with a letter or underscore. Built-in names are "
                               "reserved.");
    EXPECT_FALSE(draft().notice());
    // Closing the form empties the password fields.
    draft().setShowUser(false);
    EXPECT_EQ(draft().password(), "");
    EXPECT_EQ(draft().confirmation(), "");
}

TEST_F(DatabaseManagerDraftTest, TheNewUserFormCreatesAndSelectsTheAccount) {
    load();
    draft().setSelectedUserID(std::string("writer@127.0.0.1"));
    draft().openNewUser();
    EXPECT_TRUE(draft().showUser());
    EXPECT_EQ(draft().initialDatabase(), "shop");
    EXPECT_EQ(draft().initialAccess(), DatabaseAccess::readWrite);
    EXPECT_FALSE(draft().canCreateUser());
    draft().setUserName("newbie");
    draft().setPassword("pa'ss");
    EXPECT_FALSE(draft().canCreateUser());
    draft().setConfirmation("pa'ss");
    EXPECT_TRUE(draft().canCreateUser());
    draft().setInitialDatabase("");
    EXPECT_FALSE(draft().canCreateUser());
    draft().setInitialDatabase("blog");
    draft().setInitialAccess(DatabaseAccess::readOnly);
    draft().createUser();
    settle();
    EXPECT_FALSE(draft().showUser());
    EXPECT_EQ(draft().password(), "");
    EXPECT_EQ(draft().confirmation(), "");
    EXPECT_EQ(draft().selectedUserID(), "newbie@127.0.0.1");
    EXPECT_EQ(draft().user()->access("blog"), DatabaseAccess::readOnly);
    EXPECT_EQ(engine->userPassword(profile.id, "newbie@127.0.0.1"), "pa'ss");
    EXPECT_EQ(draft().notice(), appliedNotice);
    // The password is not in the call log.
    for (const std::string& entry : engine->log())
        EXPECT_EQ(entry.find("pa'ss"), std::string::npos) << entry;
}

TEST_F(DatabaseManagerDraftTest, TheNewDatabaseFormsRuleAndItsFlow) {
    const auto allowed = [&](const std::string& name) {
        draft().setDatabaseName(name);
        return draft().canCreateDatabase();
    };
    // Without an inventory only the name rule applies.
    EXPECT_TRUE(allowed("SHOP"));
    load();
    EXPECT_FALSE(allowed("SHOP"));
    EXPECT_FALSE(allowed("1Legacy"));
    EXPECT_TRUE(allowed("shop_2"));
    EXPECT_FALSE(allowed(std::string(65, 'a')));
    EXPECT_TRUE(allowed(std::string(64, 'a')));
    EXPECT_FALSE(allowed("-shop"));
    EXPECT_FALSE(allowed("my shop"));
    EXPECT_FALSE(allowed("mysql"));
    EXPECT_FALSE(allowed(" shop_2"));

    draft().openNewDatabase();
    EXPECT_EQ(draft().databaseName(), "");
    EXPECT_TRUE(draft().grantApplication());
    draft().setDatabaseName("shop_2");
    draft().createDatabase();
    settle();
    EXPECT_FALSE(draft().showDatabase());
    EXPECT_EQ(draft().databaseName(), "shop_2");
    ASSERT_EQ(draft().snapshot()->databases.size(), 4u);
    EXPECT_EQ(draft().snapshot()->databases[3].name, "shop_2");
    EXPECT_EQ(account(applicationID)->access("shop_2"), DatabaseAccess::admin);
    EXPECT_EQ(draft().access().at("shop_2"), DatabaseAccess::admin);

    // A server failure keeps the form open.
    engine->fail("createDatabase", "Database operation failed (ERROR 1006 (HY000)).");
    draft().openNewDatabase();
    draft().setDatabaseName("extra");
    draft().setGrantApplication(false);
    draft().createDatabase();
    settle();
    EXPECT_TRUE(draft().showDatabase());
    EXPECT_EQ(draft().error(), "Database operation failed (ERROR 1006 (HY000)).");
    EXPECT_THAT(engine->log(), Contains("createDatabase(studio, extra)"));
}

TEST_F(DatabaseManagerDraftTest, AChangeWhoseReloadFailsIsReportedAsFailed) {
    load();
    draft().setSelectedUserID(std::string("writer@127.0.0.1"));
    draft().openChangePassword();
    draft().setPassword("n3w pass");
    draft().setConfirmation("n3w pass");
    ASSERT_TRUE(draft().canSavePassword());
    engine->fail("databaseAdminSnapshot", "Inventory unavailable.");
    draft().changePassword();
    settle();
    // The server took the password, but the sheet could not confirm it.
    EXPECT_EQ(engine->userPassword(profile.id, "writer@127.0.0.1"), "n3w pass");
    EXPECT_EQ(draft().error(), "Inventory unavailable.");
    EXPECT_FALSE(draft().notice());
    EXPECT_TRUE(draft().showPassword());
    EXPECT_EQ(draft().password(), "n3w pass");
    EXPECT_EQ(draft().snapshot(), sampleSnapshot());

    engine->fail("databaseAdminSnapshot", std::nullopt);
    draft().changePassword();
    settle();
    EXPECT_FALSE(draft().showPassword());
    EXPECT_EQ(draft().password(), "");
    EXPECT_EQ(draft().notice(), appliedNotice);
    EXPECT_THAT(engine->log(), Contains("changeDatabaseUserPassword(studio, writer@127.0.0.1)"));
}

TEST_F(DatabaseManagerDraftTest, DeletingTheSelectedAccountSelectsTheApplicationAccount) {
    load();
    draft().setSelectedUserID(std::string("writer@127.0.0.1"));
    draft().requestDeleteUser();
    EXPECT_TRUE(draft().confirmDelete());
    draft().deleteUser();
    EXPECT_FALSE(draft().confirmDelete());
    settle();
    EXPECT_EQ(account("writer@127.0.0.1"), nullptr);
    EXPECT_EQ(draft().selectedUserID(), applicationID);
    EXPECT_EQ(draft().notice(), appliedNotice);

    // The application account cannot be removed; the engine says so.
    draft().deleteUser();
    settle();
    EXPECT_EQ(draft().error(), "Built-in accounts cannot be removed.");
    EXPECT_NE(account(applicationID), nullptr);
}

TEST_F(DatabaseManagerDraftTest, TheStartOfferNeedsEveryFormulaAndLoadsAfterTheStart) {
    InstallationStatus missing;
    missing.installed[profile.php] = true;
    engine->setInstallations(missing);
    startMonitor();
    draft().startLoading();
    ASSERT_TRUE(waitFor([&] { return model().packageStatusKnown(); }));
    EXPECT_FALSE(draft().running());
    EXPECT_FALSE(draft().canStartEnvironment());
    draft().startEnvironment();
    EXPECT_EQ(engine->calls("start"), 0);

    InstallationStatus all;
    for (const std::string& formula : profile.formulae())
        all.installed[formula] = true;
    engine->setInstallations(all);
    model().refreshPackages();
    ASSERT_TRUE(waitFor([&] { return draft().canStartEnvironment(); }));
    draft().startEnvironment();
    EXPECT_EQ(model().activity(), "Starting Studio…");
    ASSERT_TRUE(waitFor([&] { return draft().snapshot().has_value(); }));
    EXPECT_EQ(engine->calls("start"), 1);
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 1);
    EXPECT_TRUE(draft().running());
}

TEST_F(DatabaseManagerDraftTest, ADraftClosedDuringItsActionGetsNothing) {
    startRunning();
    engine->hold("databaseAdminSnapshot");
    draft().startLoading();
    ASSERT_TRUE(waitUntilHeld("databaseAdminSnapshot"));
    draft_.reset();
    engine->release("databaseAdminSnapshot");
    settle();
    EXPECT_EQ(model().activity(), "Done");
}

} // namespace
} // namespace vessora
