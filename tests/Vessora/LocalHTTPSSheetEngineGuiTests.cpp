// The certificate sheet over the real engine on a private data root: the
// engine makes the environment's certificate with openssl (no server
// starts), and the sheet shows that certificate's own fingerprint and
// expiry, read independently with openssl here, before and after a renewal.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Sheets/LocalHTTPSSheet.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

namespace vessora {
namespace {

namespace fs = std::filesystem;

// What openssl itself says of the DER certificate: "-fingerprint -sha256"
// or "-enddate".
std::string opensslField(const fs::path& certificate, const std::string& option) {
    std::vector<std::string> arguments{"x509",   "-inform", "DER", "-in", certificate.string(),
                                       "-noout", option};
    if (option == "-fingerprint")
        arguments.push_back("-sha256");
    const CommandResult result = Command::run("/usr/bin/openssl", arguments);
    EXPECT_EQ(result.status, 0) << result.output;
    std::string line = result.output.substr(0, result.output.find('\n'));
    return line.substr(line.find('=') + 1);
}

// "Mar  5 12:00:00 2027 GMT" as the English date of that moment in local
// time: "Mar 5, 2027".
QString englishDate(const std::string& notAfter) {
    std::tm fields{};
    EXPECT_NE(::strptime(notAfter.c_str(), "%b %d %H:%M:%S %Y GMT", &fields), nullptr) << notAfter;
    const std::time_t moment = ::timegm(&fields);
    std::tm local{};
    ::localtime_r(&moment, &local);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return QString("%1 %2, %3")
        .arg(months[local.tm_mon])
        .arg(local.tm_mday)
        .arg(local.tm_year + 1900);
}

class LocalHTTPSSheetEngineTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(StackEngine::socketDirectoryFor(folder.path())); }

    // A development build whose VESSORA_PREVIEW_ROOT names the private root.
    AppModel::Options options() {
        AppModel::Options result;
        result.build = BuildInfo::developmentBuild();
        result.environment = [root = folder.path()](const std::string& name) {
            return name == "VESSORA_PREVIEW_ROOT" ? std::optional(root.string()) : std::nullopt;
        };
        result.openEngine = [brew =
                                 brew.brew()](const fs::path& root) -> std::shared_ptr<AppEngine> {
            StackEngine::Options engine;
            engine.root = root;
            engine.brew = brew;
            engine.hostClient = std::make_shared<FakeHostService>();
            return std::make_shared<StackEngineAdapter>(engine);
        };
        result.hostSetup = std::make_shared<FakeHostSetup>();
        result.defaults = UserDefaults::inMemory();
        result.monitorInterval = std::chrono::milliseconds(50);
        return result;
    }

    static bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 30000);
    }

    static QString fingerprintShown(QWidget* sheet) {
        auto* view = sheet->findChild<QTextEdit*>("fingerprint");
        return view && view->isVisibleTo(sheet) ? view->toPlainText() : QString();
    }

    void SetUp() override {
        // Renewal reloads the packages: the stand-in knows the families,
        // none installed.
        nlohmann::json formulae;
        for (const char* name : {"php", "mariadb", "nginx", "httpd", "phpmyadmin"})
            formulae[name] = BrewStandIn::formula("1.0.0");
        brew.setState({{"formulae", formulae}});
    }

    TemporaryFolder folder{"vessora-sheet-root"};
    BrewStandIn brew;
};

TEST_F(LocalHTTPSSheetEngineTest, ShowsTheRealCertificateBeforeAndAfterRenewal) {
    AppModel model(options());
    ASSERT_TRUE(model.hasEngine()) << model.error().value_or("");
    ASSERT_EQ(model.dataRoot(), folder.path());
    const StackProfile studio = StackProfile::defaults().front();
    ASSERT_TRUE(model.perform("Creating Shop…", false, [studio](AppEngine& engine) {
        engine.create("Shop", studio.php, studio.mariaDB, false, "nginx", true, std::nullopt,
                      "shop", std::string("shop.test"), true, false);
    }));
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    ASSERT_FALSE(model.error()) << *model.error();
    const StackProfile shop = model.profiles().back();
    ASSERT_EQ(shop.name, "Shop");
    const fs::path certificate = StackPaths(model.dataRoot(), shop).tlsImportCertificate();
    ASSERT_TRUE(fs::is_regular_file(certificate));

    AppPreferences preferences(UserDefaults::standard());
    QWidget window;
    window.show();
    auto* sheet = new LocalHTTPSSheet(model, preferences, shop, &window);
    sheet->open();
    const QString first =
        "SHA-256: " + QString::fromStdString(opensslField(certificate, "-fingerprint"));
    ASSERT_TRUE(waitFor([&] { return fingerprintShown(sheet) == first; }))
        << fingerprintShown(sheet).toStdString() << " != " << first.toStdString();
    EXPECT_EQ(sheet->findChild<QLabel*>("expiryDate")->text(),
              englishDate(opensslField(certificate, "-enddate")));
    EXPECT_EQ(sheet->findChild<QTextEdit*>("siteAddress")->toPlainText(), "https://shop.test:8448");
    // Nothing on this machine trusts a certificate made a moment ago.
    EXPECT_EQ(sheet->findChild<QWidget*>("trustLabel")->findChild<QLabel*>("text")->text(),
              "Not trusted by this computer");

    QTest::mouseClick(sheet->findChild<QPushButton*>("renewButton"), Qt::LeftButton);
    auto* box = sheet->findChild<QMessageBox*>("renewConfirmation");
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->findChild<QPushButton*>("confirmRenewButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    ASSERT_FALSE(model.error()) << *model.error();
    const QString second =
        "SHA-256: " + QString::fromStdString(opensslField(certificate, "-fingerprint"));
    EXPECT_NE(second, first);
    ASSERT_TRUE(waitFor([&] { return fingerprintShown(sheet) == second; }))
        << fingerprintShown(sheet).toStdString();
    EXPECT_EQ(sheet->findChild<QLabel*>("expiryDate")->text(),
              englishDate(opensslField(certificate, "-enddate")));
    delete sheet;
}

} // namespace
} // namespace vessora
