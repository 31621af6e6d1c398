// The database sheets end to end: the real engine behind the model, an
// environment started from the sheet on Debian's servers (through the
// Homebrew stand-in), and every change made through the sheets' controllers
// - a database, an account, its access, its password, revoking, dropping -
// checked against the server itself after each step: the window's
// inventory, what MariaDB reports, and logging in with the mariadb client
// as that account. Two starts in all: the second applies the application
// password stored through the credentials sheet.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseManagerSheet.hpp"
#include "Vessora/Sheets/DatabaseSheet.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QListWidget>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string localHost = "127.0.0.1";

class DatabaseManagerIntegrationTests : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        AppModel::Options options;
        options.build = BuildInfo::developmentBuild();
        options.environment = [root = work.path() / "data"](const std::string& name) {
            return name == "VESSORA_PREVIEW_ROOT" ? std::optional(root.string()) : std::nullopt;
        };
        options.openEngine = [brew = standIn->brew()](const fs::path& root) {
            StackEngine::Options engineOptions;
            engineOptions.root = root;
            engineOptions.brew = brew;
            engineOptions.hostClient = std::make_shared<FakeHostService>();
            const auto routerPorts = freePorts(2);
            engineOptions.routerPorts = {routerPorts[0], routerPorts[1]};
            return std::make_shared<StackEngineAdapter>(engineOptions);
        };
        options.hostSetup = std::make_shared<FakeHostSetup>();
        options.defaults = UserDefaults::inMemory();
        options.monitorInterval = std::chrono::milliseconds(200);
        fs::create_directories(work.path() / "data");
        model = std::make_unique<AppModel>(options);
        ASSERT_TRUE(model->hasEngine()) << model->error().value_or("");
        model->startMonitor();

        // A new environment on free ports, without phpMyAdmin.
        auto created = std::make_shared<StackProfile>();
        const auto ports = freePorts(3);
        ASSERT_TRUE(model->perform("Creating Shop…", false, [created, ports](AppEngine& engine) {
            StackProfile record =
                engine.create("Shop", "php@8.2", "mariadb@10.11", false, "nginx", false,
                              std::nullopt, "shop_db", std::nullopt, false, false);
            record.httpPort = ports[0];
            record.phpPort = ports[1];
            record.databasePort = ports[2];
            engine.update(record);
            *created = record;
        }));
        ASSERT_TRUE(idle());
        ASSERT_FALSE(model->error()) << *model->error();
        profile = *created;
        ASSERT_TRUE(waitFor(
            [&] { return model->packageStatusKnown() && model->statuses().count(profile.id); }));
    }

    void TearDown() override {
        if (!model)
            return;
        sheet.reset();
        credentials.reset();
        EXPECT_TRUE(idle());
        model->perform("Stopping…", false, [](AppEngine& engine) { engine.stopAll(); });
        EXPECT_TRUE(idle());
        EXPECT_FALSE(model->error()) << model->error().value_or("");
        const fs::path root = model->dataRoot();
        model.reset();
        fs::remove_all(StackEngine::socketDirectoryFor(root));
    }

    static bool waitFor(const std::function<bool()>& condition, int seconds = 30) {
        return QTest::qWaitFor(condition, seconds * 1000);
    }
    bool idle(int seconds = 60) {
        return waitFor([&] { return !model->busy(); }, seconds);
    }

    // What MariaDB itself says, asked over the environment's socket as the
    // login user: one line per row, tab between columns.
    std::vector<std::string> server(const std::string& sql) {
        const fs::path socket =
            StackEngine::socketDirectoryFor(model->dataRoot()) / (profile.id + ".sock");
        const CommandResult result =
            Command::run(standIn->root() / "opt" / "mariadb@10.11" / "bin" / "mariadb",
                         {"--no-defaults", "--protocol=socket", "--socket=" + socket.string(),
                          "--user=" + StackEngineTesting::loginName(), "--batch", "--raw",
                          "--skip-column-names", "-e", sql},
                         {.timeout = 30});
        EXPECT_EQ(result.status, 0) << sql << "\n" << result.output;
        std::vector<std::string> lines;
        std::istringstream stream(result.output);
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }
    std::set<std::string> serverPrivileges(const std::string& user, const std::string& database) {
        std::set<std::string> privileges;
        for (const std::string& line :
             server("SELECT TABLE_SCHEMA, PRIVILEGE_TYPE FROM information_schema.SCHEMA_PRIVILEGES "
                    "WHERE GRANTEE = '''" +
                    user + "''@''127.0.0.1'''")) {
            const auto tab = line.find('\t');
            std::string schema = line.substr(0, tab);
            // Grants name one database: its "_" written as "\_".
            std::string unescaped;
            for (std::size_t at = 0; at < schema.size(); ++at)
                if (!(schema[at] == '\\' && at + 1 < schema.size() && schema[at + 1] == '_'))
                    unescaped += schema[at];
            if (unescaped == database)
                privileges.insert(line.substr(tab + 1));
        }
        return privileges;
    }

    // The window's inventory - the draft's and the rows the sheet shows -
    // is the server's.
    void expectWindowMatchesServer() {
        ASSERT_TRUE(sheet->draft().snapshot());
        const DatabaseAdminSnapshot& snapshot = *sheet->draft().snapshot();
        std::vector<std::string> databases;
        for (const ManagedDatabase& database : snapshot.databases)
            databases.push_back(database.name);
        EXPECT_EQ(databases, server("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE "
                                    "SCHEMA_NAME NOT IN ('mysql','information_schema',"
                                    "'performance_schema','sys','vessora_internal') "
                                    "ORDER BY SCHEMA_NAME"));
        std::vector<std::string> accounts;
        for (const DatabaseAccount& account : snapshot.users) {
            accounts.push_back(account.id());
            for (const auto& [database, privileges] : account.privileges)
                EXPECT_EQ(privileges, serverPrivileges(account.name, database)) << account.id();
        }
        EXPECT_EQ(accounts,
                  server("SELECT CONCAT(User, '@', Host) FROM mysql.user ORDER BY User, Host"));

        std::vector<std::string> rows;
        for (QWidget* row : sheet->findChildren<QWidget*>("databaseRow"))
            rows.push_back(
                row->findChild<DatabaseElidedLabel*>("databaseName")->fullText().toStdString());
        EXPECT_EQ(rows, databases);
        auto* list = sheet->findChild<QListWidget*>("accountList");
        std::vector<std::string> listed;
        for (int row = 0; row < list->count(); ++row)
            listed.push_back(list->item(row)->toolTip().toStdString());
        EXPECT_EQ(listed, accounts);
    }

    // Logs in over TCP as a project would; the statement's output, or the
    // client's error.
    CommandResult login(const std::string& user, const std::string& password,
                        const std::string& statement = "SELECT CURRENT_USER()") {
        return Command::run(standIn->root() / "opt" / "mariadb@10.11" / "bin" / "mariadb",
                            {"--no-defaults", "--protocol=tcp", "--host=127.0.0.1",
                             "--port=" + std::to_string(profile.databasePort), "--user=" + user,
                             "--password=" + password, "--connect-timeout=5", "--batch",
                             "--skip-column-names", "-e", statement},
                            {.timeout = 30});
    }
    void expectLogin(const std::string& user, const std::string& password) {
        const CommandResult result = login(user, password);
        EXPECT_EQ(result.status, 0) << user << ": " << result.output;
        EXPECT_EQ(result.output, user + "@127.0.0.1\n");
    }
    void expectNoLogin(const std::string& user, const std::string& password) {
        const CommandResult result = login(user, password);
        EXPECT_NE(result.status, 0) << user;
        EXPECT_THAT(result.output, HasSubstr("Access denied")) << user;
    }

    // One change through the sheet's controller: it succeeds and the window
    // shows the reloaded inventory.
    void expectApplied() {
        ASSERT_TRUE(idle());
        EXPECT_FALSE(sheet->draft().error()) << *sheet->draft().error();
        EXPECT_TRUE(sheet->draft().notice());
        expectWindowMatchesServer();
    }

    TemporaryFolder work{"vessora-dbwindow"};
    std::unique_ptr<AppModel> model;
    AppPreferences preferences;
    StackProfile profile;
    std::unique_ptr<DatabaseManagerSheet> sheet;
    std::unique_ptr<DatabaseSheet> credentials;
};

TEST_F(DatabaseManagerIntegrationTests, TheSheetsAdministerTheRealServer) {
    sheet = std::make_unique<DatabaseManagerSheet>(*model, preferences, profile, nullptr);
    sheet->show();
    DatabaseManagerDraft& draft = sheet->draft();
    ASSERT_FALSE(draft.running());
    ASSERT_TRUE(draft.canStartEnvironment());

    // Started from the sheet, the inventory loads by itself.
    draft.startEnvironment();
    ASSERT_TRUE(waitFor([&] { return draft.snapshot().has_value() && !model->busy(); }, 180))
        << model->error().value_or("") << draft.error().value_or("");
    expectWindowMatchesServer();
    EXPECT_EQ(draft.selectedUserID(), "vessora@127.0.0.1");
    EXPECT_EQ(draft.user()->access("shop_db"), DatabaseAccess::admin);

    // A database, without the application account.
    draft.openNewDatabase();
    draft.setDatabaseName("blog_data");
    draft.setGrantApplication(false);
    ASSERT_TRUE(draft.canCreateDatabase());
    draft.createDatabase();
    expectApplied();
    EXPECT_FALSE(draft.showDatabase());
    EXPECT_EQ(draft.user()->access("blog_data"), DatabaseAccess::none);

    // An account with read access to it.
    const std::string first = R"(Re'ad "er\ pw)";
    draft.openNewUser();
    draft.setUserName("reader");
    draft.setPassword(first);
    draft.setConfirmation(first);
    draft.setInitialDatabase("blog_data");
    draft.setInitialAccess(DatabaseAccess::readOnly);
    draft.createUser();
    expectApplied();
    EXPECT_EQ(draft.selectedUserID(), "reader@127.0.0.1");
    EXPECT_EQ(draft.user()->access("blog_data"), DatabaseAccess::readOnly);
    EXPECT_EQ(serverPrivileges("reader", "blog_data"),
              (std::set<std::string>{"SELECT", "SHOW VIEW"}));
    expectLogin("reader", first);
    EXPECT_EQ(login("reader", first, "USE blog_data; SELECT DATABASE()").output, "blog_data\n");
    EXPECT_THAT(login("reader", first, "CREATE TABLE blog_data.posts (id INT)").output,
                HasSubstr("ERROR 1142"));

    // Granted schema admin: it can create tables.
    draft.setAccess("blog_data", DatabaseAccess::admin);
    ASSERT_TRUE(draft.dirty());
    draft.saveAccess(*draft.user());
    expectApplied();
    EXPECT_FALSE(draft.dirty());
    EXPECT_EQ(draft.user()->access("blog_data"), DatabaseAccess::admin);
    EXPECT_EQ(login("reader", first, "CREATE TABLE blog_data.posts (id INT)").status, 0);

    // A new password: the old one no longer logs in.
    const std::string second = "n3w pass'word";
    draft.openChangePassword();
    draft.setPassword(second);
    draft.setConfirmation(second);
    draft.changePassword();
    expectApplied();
    EXPECT_FALSE(draft.showPassword());
    expectLogin("reader", second);
    expectNoLogin("reader", first);

    // Revoked: the account stays, without access.
    draft.setAccess("blog_data", DatabaseAccess::none);
    draft.saveAccess(*draft.user());
    expectApplied();
    EXPECT_EQ(draft.user()->access("blog_data"), DatabaseAccess::none);
    EXPECT_TRUE(serverPrivileges("reader", "blog_data").empty());
    expectLogin("reader", second);
    EXPECT_THAT(login("reader", second, "USE blog_data").output, HasSubstr("ERROR 1044"));

    // Dropped: the account through the confirmation, the database by
    // another client (the sheet offers no database removal); Refresh shows it.
    draft.requestDeleteUser();
    draft.deleteUser();
    expectApplied();
    EXPECT_EQ(draft.selectedUserID(), "vessora@127.0.0.1");
    expectNoLogin("reader", second);
    ASSERT_TRUE(model->perform("Dropping…", false, [id = profile.id](AppEngine& engine) {
        engine.executeSQL(id, "DROP DATABASE blog_data;");
    }));
    ASSERT_TRUE(idle());
    draft.refresh();
    ASSERT_TRUE(idle());
    EXPECT_FALSE(draft.error());
    expectWindowMatchesServer();
    for (const ManagedDatabase& database : draft.snapshot()->databases)
        EXPECT_NE(database.name, "blog_data");

    // The credentials sheet reads the application password while it runs...
    credentials = std::make_unique<DatabaseSheet>(*model, preferences, profile, nullptr);
    DatabaseDraft& application = credentials->draft();
    ASSERT_TRUE(waitFor([&] { return application.original().has_value(); }));
    const std::string generated = *application.original();
    EXPECT_EQ(generated.size(), 32u);
    expectLogin("vessora", generated);
    EXPECT_FALSE(application.canEditPassword());

    // ...and stores a new one once it is stopped; the next start uses it.
    ASSERT_TRUE(model->perform("Stopping…", false,
                               [id = profile.id](AppEngine& engine) { engine.stop(id); }));
    ASSERT_TRUE(idle());
    ASSERT_TRUE(waitFor([&] { return !draft.snapshot() && application.canEditPassword(); }));
    const std::string stored = R"( app'pa"ss\ )";
    application.setPassword(stored);
    application.setConfirmation(stored);
    ASSERT_TRUE(application.canSave());
    application.save();
    ASSERT_TRUE(waitFor([&] { return application.saved() && !application.busy(); }));
    EXPECT_FALSE(application.error()) << *application.error();
    EXPECT_EQ(PrivateFile::read(StackPaths(model->dataRoot(), profile).databasePassword()), stored);

    draft.startEnvironment();
    ASSERT_TRUE(waitFor([&] { return draft.snapshot().has_value() && !model->busy(); }, 180))
        << model->error().value_or("");
    expectWindowMatchesServer();
    expectLogin("vessora", stored);
    expectNoLogin("vessora", generated);
}

} // namespace
} // namespace vessora
