// The certificate sheet through its widgets, over the fake engine: when it
// reads the details, what it shows of them, its buttons and the renewal.
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Sheets/LocalHTTPSSheet.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

namespace vessora {
namespace {

using namespace std::chrono_literals;

const std::string kFingerprint = "3F:A1:09:7C:B2:55:E0:1D:44:9A:C3:6E:21:F8:0B:7D:92:5C:AE:13:60:"
                                 "D4:8F:27:B9:E5:31:0A:CC:76:4B:E8";
const std::string kRenewed = "08:7E:5D:91:C4:2B:F3:6A:10:E7:9C:35:D8:4F:A2:61:B0:1E:73:C9:58:"
                             "0D:EA:46:9F:23:B7:6C:81:F5:2A:D4";

// 2027-03-05 12:00:00 UTC: the same day in every time zone within 11 hours.
Date march5() {
    return std::chrono::system_clock::from_time_t(1804248000);
}

LocalCertificateInfo certificate(const std::string& fingerprint, bool trusted) {
    LocalCertificateInfo info;
    info.expires = march5();
    info.fingerprint = fingerprint;
    info.trustedOnThisMac = trusted;
    return info;
}

class LocalHTTPSSheetTest : public AppModelTest {
protected:
    void SetUp() override {
        https = StackProfile::defaults().front();
        https.httpsEnabled = true;
        https.httpsPort = 8443;
        engine->setProfiles({https, StackProfile::defaults().back()});
        DesktopServices::setCurrent(desktop);
        window.show();
    }

    void TearDown() override {
        // The sheets go before the model they show.
        qDeleteAll(window.findChildren<QDialog*>(Qt::FindDirectChildrenOnly));
        DesktopServices::setCurrent(nullptr);
        preferences.setLanguage(AppLanguage::english);
        AppModelTest::TearDown();
    }

    LocalHTTPSSheet* open(AppModel& model, const StackProfile& profile) {
        auto* sheet = new LocalHTTPSSheet(model, preferences, profile, &window);
        sheet->open();
        return sheet;
    }
    LocalHTTPSSheet* open() { return open(model(), https); }

    template <typename Widget>
    static Widget* child(QWidget* sheet, const char* name) {
        auto* widget = sheet->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QString text(QWidget* sheet, const char* name) {
        if (auto* view = sheet->findChild<QTextEdit*>(name))
            return view->toPlainText();
        return child<QLabel>(sheet, name)->text();
    }
    static bool shown(QWidget* sheet, const char* name) {
        return child<QWidget>(sheet, name)->isVisibleTo(sheet);
    }
    static bool enabled(QWidget* sheet, const char* name) {
        return child<QPushButton>(sheet, name)->isEnabled();
    }
    static void click(QWidget* sheet, const char* name) {
        QTest::mouseClick(child<QPushButton>(sheet, name), Qt::LeftButton);
    }
    bool detailsShown(QWidget* sheet) {
        return waitFor([&] { return shown(sheet, "fingerprint"); });
    }

    // Starts an action that waits in the engine until released: the model
    // is busy meanwhile.
    void startHeldAction() {
        engine->hold("stop");
        ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("legacy"); }));
        ASSERT_TRUE(waitUntilHeld("stop"));
    }

    StackProfile https;
    AppPreferences preferences{UserDefaults::standard()};
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    QWidget window;
};

TEST_F(LocalHTTPSSheetTest, OpenedWhileBusyItShowsNothingUntilTheActionEnds) {
    engine->setCertificateInfo("studio", certificate(kFingerprint, true));
    startHeldAction();
    auto* sheet = open();
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("certificateInfo"), 0);
    for (const char* name : {"trustLabel", "expiryRow", "fingerprint", "readError", "runningNote"})
        EXPECT_FALSE(shown(sheet, name)) << name;
    for (const char* name : {"openCertificateButton", "showFilesButton", "renewButton"})
        EXPECT_FALSE(enabled(sheet, name)) << name;
    EXPECT_TRUE(enabled(sheet, "doneButton"));
    EXPECT_EQ(text(sheet, "siteAddress"), "https://127.0.0.1:8443");
    EXPECT_EQ(text(sheet, "httpAddress"), "HTTP stays available at http://127.0.0.1:8080");

    engine->release("stop");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(detailsShown(sheet));
    EXPECT_EQ(engine->calls("certificateInfo"), 1);
    EXPECT_EQ(sheet->findChild<QWidget*>("trustLabel")->findChild<QLabel*>("text")->text(),
              "Trusted on this computer");
    EXPECT_EQ(text(sheet, "expiryTitle"), "Valid until");
    EXPECT_EQ(text(sheet, "expiryDate"), "Mar 5, 2027");
    EXPECT_EQ(text(sheet, "fingerprint"), QString::fromStdString("SHA-256: " + kFingerprint));
    EXPECT_FALSE(shown(sheet, "readError"));
    for (const char* name : {"openCertificateButton", "showFilesButton", "renewButton"})
        EXPECT_TRUE(enabled(sheet, name)) << name;
}

TEST_F(LocalHTTPSSheetTest, WhileAnyProcessRunsRenewalIsOffButTheFilesOpen) {
    engine->setCertificateInfo("studio", certificate(kFingerprint, false));
    // Still starting: not running as a whole, but a process is recorded.
    engine->setStatus("studio", StackStatus{false, "Preparing…", {{"MariaDB", 4711}}});
    startMonitor();
    auto* sheet = open();
    ASSERT_TRUE(detailsShown(sheet));
    EXPECT_FALSE(enabled(sheet, "renewButton"));
    EXPECT_TRUE(shown(sheet, "runningNote"));
    EXPECT_EQ(text(sheet, "runningNote"), "Stop the environment to renew its certificate.");

    const auto file = StackPaths(root.path(), https).tlsImportCertificate();
    EXPECT_EQ(file, root.path() / "studio/config/tls/identity/localhost.cer");
    click(sheet, "openCertificateButton");
    click(sheet, "showFilesButton");
    EXPECT_EQ(desktop->requests,
              (std::vector<std::string>{"open " + file.string(), "show " + file.string()}));

    // The record shown is the one handed in, whatever the engine says later.
    StackProfile renamed = https;
    renamed.name = "Renamed meanwhile";
    engine->setProfiles({renamed, StackProfile::defaults().back()});
    engine->setStatus("studio", StackStatus{false, "Stopped", {}});
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("legacy"); }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return enabled(sheet, "renewButton"); }));
    EXPECT_FALSE(shown(sheet, "runningNote"));
    EXPECT_EQ(model().profiles().front().name, "Renamed meanwhile");
    EXPECT_EQ(text(sheet, "environmentName"), "Studio");
}

TEST_F(LocalHTTPSSheetTest, ALaterReadClearsAnEarlierError) {
    engine->fail("certificateInfo", "Could not read the local HTTPS certificate.");
    auto* sheet = open();
    ASSERT_TRUE(waitFor([&] { return shown(sheet, "readError"); }));
    EXPECT_EQ(text(sheet, "readError"), "Could not read the local HTTPS certificate.");
    EXPECT_FALSE(shown(sheet, "fingerprint"));
    EXPECT_FALSE(enabled(sheet, "openCertificateButton"));
    EXPECT_FALSE(enabled(sheet, "showFilesButton"));
    EXPECT_TRUE(enabled(sheet, "renewButton"));

    // Any action that ends while the sheet is open reads again.
    engine->fail("certificateInfo", std::nullopt);
    engine->setCertificateInfo("studio", certificate(kFingerprint, false));
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("legacy"); }));
    ASSERT_TRUE(detailsShown(sheet));
    EXPECT_FALSE(shown(sheet, "readError"));
    EXPECT_FALSE(sheet->draft().error());
    EXPECT_TRUE(enabled(sheet, "openCertificateButton"));
    EXPECT_EQ(engine->calls("certificateInfo"), 2);
}

TEST_F(LocalHTTPSSheetTest, AReadStillOutWhenAnActionStartsIsDropped) {
    engine->hold("certificateInfo");
    auto* sheet = open();
    ASSERT_TRUE(waitUntilHeld("certificateInfo"));
    std::vector<std::string> shownFingerprints;
    QObject::connect(&sheet->draft(), &LocalHTTPSDraft::changed, [&] {
        if (sheet->draft().info())
            shownFingerprints.push_back(sheet->draft().info()->fingerprint);
    });
    startHeldAction();
    // The first read answers only now, with what the action is replacing.
    engine->setCertificateInfo("studio", certificate(kFingerprint, true));
    engine->release("certificateInfo");
    QTest::qWait(150);
    EXPECT_FALSE(shown(sheet, "fingerprint"));

    engine->setCertificateInfo("studio", certificate(kRenewed, false));
    engine->release("stop");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(detailsShown(sheet));
    QTest::qWait(50);
    EXPECT_EQ(shownFingerprints, std::vector<std::string>{kRenewed});
    EXPECT_EQ(text(sheet, "fingerprint"), QString::fromStdString("SHA-256: " + kRenewed));
}

TEST_F(LocalHTTPSSheetTest, AReadThatAnswersAfterTheSheetClosedIsDropped) {
    engine->setCertificateInfo("studio", certificate(kFingerprint, true));
    engine->hold("certificateInfo");
    QPointer<LocalHTTPSSheet> sheet = open();
    ASSERT_TRUE(waitUntilHeld("certificateInfo"));
    click(sheet, "doneButton");
    ASSERT_TRUE(waitFor([&] { return sheet.isNull(); }));
    engine->release("certificateInfo");
    ASSERT_TRUE(waitFor([&] { return !engine->isHeld("certificateInfo"); }));
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("certificateInfo"), 1);
    // The window carries on; a new sheet reads afresh.
    auto* again = open();
    ASSERT_TRUE(detailsShown(again));
    EXPECT_EQ(engine->calls("certificateInfo"), 2);
}

TEST_F(LocalHTTPSSheetTest, CancelStartsNothingAndConfirmingRenewsAndShowsTheNewCertificate) {
    engine->setCertificateInfo("studio", certificate(kFingerprint, true));
    auto* sheet = open();
    ASSERT_TRUE(detailsShown(sheet));

    click(sheet, "renewButton");
    QPointer<QMessageBox> box = sheet->findChild<QMessageBox*>("renewConfirmation");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->draft().confirmRenewal());
    EXPECT_EQ(box->text(), "Renew local certificate?");
    EXPECT_TRUE(
        box->informativeText().startsWith("The certificate and private key will be replaced."));
    click(box, "cancelRenewButton");
    EXPECT_FALSE(sheet->draft().confirmRenewal());
    QTest::qWait(50);
    EXPECT_FALSE(model().busy());
    EXPECT_EQ(engine->calls("renewCertificate"), 0);
    EXPECT_EQ(engine->calls("certificateInfo"), 1);

    engine->hold("renewCertificate");
    click(sheet, "renewButton");
    box = sheet->findChild<QMessageBox*>("renewConfirmation");
    ASSERT_TRUE(box);
    EXPECT_EQ(child<QPushButton>(box, "confirmRenewButton")->text(), "Renew certificate");
    click(box, "confirmRenewButton");
    EXPECT_FALSE(sheet->draft().confirmRenewal());
    ASSERT_TRUE(waitUntilHeld("renewCertificate"));
    EXPECT_TRUE(model().busy());
    EXPECT_EQ(model().activity(), "Renewing local HTTPS certificate…");
    for (const char* name : {"openCertificateButton", "showFilesButton", "renewButton"})
        EXPECT_FALSE(enabled(sheet, name)) << name;
    // The old details stay while the renewal runs.
    EXPECT_EQ(text(sheet, "fingerprint"), QString::fromStdString("SHA-256: " + kFingerprint));

    LocalCertificateInfo renewed = certificate(kRenewed, false);
    renewed.expires += std::chrono::hours(24 * 365);
    engine->setCertificateInfo("studio", renewed);
    engine->release("renewCertificate");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] {
        return text(sheet, "fingerprint") == QString::fromStdString("SHA-256: " + kRenewed);
    }));
    EXPECT_EQ(text(sheet, "expiryDate"), "Mar 4, 2028");
    EXPECT_EQ(sheet->findChild<QWidget*>("trustLabel")->findChild<QLabel*>("text")->text(),
              "Not trusted by this computer");
    const auto log = engine->log();
    EXPECT_NE(std::find(log.begin(), log.end(), "renewCertificate(studio)"), log.end());
    // Renewal reloads the packages too.
    EXPECT_NE(std::find(log.begin(), log.end(), "installations"), log.end());
}

TEST_F(LocalHTTPSSheetTest, FingerprintPrefixAndDateInEveryLanguageWithNothingCutOff) {
    StackProfile longName = https;
    longName.name = "A rather long environment name that cannot fit beside the title";
    engine->setCertificateInfo("studio", certificate(kFingerprint, false));
    engine->setStatus("studio", StackStatus{true, "Running", {{"MariaDB", 1}}});
    startMonitor();
    auto* sheet = open(model(), longName);
    ASSERT_TRUE(detailsShown(sheet));
    const std::map<AppLanguage, std::pair<QString, QString>> expected{
        {AppLanguage::english, {"Valid until", "Mar 5, 2027"}},
        {AppLanguage::german, {"Gültig bis", "5. März 2027"}},
        {AppLanguage::french, {"Valide jusqu’au", "5 mars 2027"}},
        {AppLanguage::italian, {"Valido fino al", "5 mar 2027"}},
    };
    for (const auto& [language, row] : expected) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        EXPECT_EQ(text(sheet, "fingerprint"), QString::fromStdString("SHA-256: " + kFingerprint));
        EXPECT_EQ(text(sheet, "expiryTitle"), row.first);
        EXPECT_EQ(text(sheet, "expiryDate"), row.second);
        // Title and date read as one phrase: one space apart, not two (the
        // label rounds its text's width up by a pixel).
        QApplication::processEvents();
        auto* title = child<QLabel>(sheet, "expiryTitle");
        auto* date = child<QLabel>(sheet, "expiryDate");
        const int titleEnd = title->x() + title->fontMetrics().horizontalAdvance(title->text());
        EXPECT_LE(date->x() - titleEnd,
                  title->fontMetrics().horizontalAdvance(QLatin1Char(' ')) + 1);
        EXPECT_EQ(sheet->width(), LocalHTTPSSheet::sheetWidth);
        EXPECT_EQ(clippedTexts(*sheet), std::vector<std::string>{});
    }
    // The name is shortened to one line, and shown whole as its tooltip.
    EXPECT_TRUE(text(sheet, "environmentName").endsWith(QChar(0x2026)));
    EXPECT_EQ(child<QLabel>(sheet, "environmentName")->toolTip(),
              QString::fromStdString(longName.name));
}

TEST_F(LocalHTTPSSheetTest, TheGuideLinkOpensInTheBrowserAndDoneCloses) {
    auto* sheet = open();
    ASSERT_TRUE(detailsShown(sheet));
    auto* link = child<QLabel>(sheet, "trustGuideLink");
    EXPECT_EQ(link->text().contains("Debian’s trust guide"), true);
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(4, link->height() / 2));
    EXPECT_EQ(desktop->requests,
              std::vector<std::string>{std::string("url ") + LocalHTTPSSheet::trustGuideURL});

    // A click leaves the keyboard where it was: Return then means Done,
    // not the link once more.
    EXPECT_NE(sheet->focusWidget(), link);
    QPointer<LocalHTTPSSheet> guard(sheet);
    bool finished = false;
    QObject::connect(sheet, &QDialog::finished, [&] { finished = true; });
    EXPECT_TRUE(child<QPushButton>(sheet, "doneButton")->isDefault());
    QTest::keyClick(sheet->focusWidget() ? sheet->focusWidget() : sheet, Qt::Key_Return);
    EXPECT_TRUE(finished);
    EXPECT_EQ(desktop->requests.size(), 1u);
    ASSERT_TRUE(waitFor([&] { return guard.isNull(); }));
}

TEST_F(LocalHTTPSSheetTest, WithoutAnEngineNothingIsReadAndRenewalDoesNothing) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    AppModel model(options);
    ASSERT_FALSE(model.hasEngine());
    // Without HTTPS the address line shows the plain address.
    const StackProfile plain = StackProfile::defaults().back();
    auto* sheet = open(model, plain);
    QTest::qWait(100);
    EXPECT_EQ(text(sheet, "siteAddress"), "http://127.0.0.1:8081");
    EXPECT_EQ(text(sheet, "httpAddress"), "HTTP stays available at http://127.0.0.1:8081");
    EXPECT_FALSE(shown(sheet, "fingerprint"));
    EXPECT_FALSE(shown(sheet, "readError"));
    EXPECT_FALSE(enabled(sheet, "openCertificateButton"));
    EXPECT_FALSE(enabled(sheet, "showFilesButton"));
    ASSERT_TRUE(enabled(sheet, "renewButton"));
    click(sheet, "renewButton");
    auto* box = sheet->findChild<QMessageBox*>("renewConfirmation");
    ASSERT_NE(box, nullptr);
    click(box, "confirmRenewButton");
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(engine->calls("certificateInfo"), 0);
    EXPECT_EQ(engine->calls("renewCertificate"), 0);
    delete sheet;
}

} // namespace
} // namespace vessora
