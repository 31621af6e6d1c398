// The ports card and the HTTPS port rule with the fake engine: the rows and
// their names, ports shown and read without digit grouping in every
// language, typing that does not read as a number, and the suggested HTTPS
// port.
#include "Vessora/Windows/PortsSection.hpp"
#include "tests/Vessora/Support/EditorTest.hpp"

#include <QCheckBox>

namespace vessora {
namespace {

class EditorPortsTest : public EditorTest {
protected:
    // The port rows shown, by label, top to bottom.
    std::vector<std::string> rows() {
        std::vector<std::string> shownRows;
        for (const char* name :
             {"httpPortLabel", "httpsPortLabel", "phpPortLabel", "databasePortLabel"}) {
            if (shown(name))
                shownRows.push_back(text(name));
        }
        return shownRows;
    }

    void tickHTTPS() { find<QCheckBox>("httpsBox")->click(); }
};

TEST_F(EditorPortsTest, PortsAreWrittenAndReadWithoutGroupingInEveryLanguage) {
    for (AppLanguage language : AppLanguages::allCases) {
        SCOPED_TRACE(AppLanguages::id(language));
        preferences.setLanguage(language);
        EXPECT_EQ(PortsSection::portText(8080), "8080");
        EXPECT_EQ(PortsSection::portText(13300), "13300");
        EXPECT_EQ(PortsSection::portText(65535), "65535");
        EXPECT_EQ(PortsSection::parsePort("13300"), 13300);
        EXPECT_EQ(PortsSection::parsePort(" 8443 "), 8443);
        EXPECT_EQ(PortsSection::parsePort(""), std::nullopt);
        EXPECT_EQ(PortsSection::parsePort("80a"), std::nullopt);
        EXPECT_EQ(PortsSection::parsePort("8080.5"), std::nullopt);
        EXPECT_EQ(PortsSection::parsePort("99999999999999999999"), std::nullopt);
    }
    // Each language's own grouping is refused, not read as a port.
    preferences.setLanguage(AppLanguage::english);
    EXPECT_EQ(PortsSection::parsePort("13,300"), std::nullopt);
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(PortsSection::parsePort("13.300"), std::nullopt);
    preferences.setLanguage(AppLanguage::french);
    EXPECT_EQ(PortsSection::parsePort(QString("13") + QChar(0x202F) + "300"), std::nullopt);
    preferences.setLanguage(AppLanguage::italian);
    EXPECT_EQ(PortsSection::parsePort("13.300"), std::nullopt);
}

TEST_F(EditorPortsTest, TheFieldsShowAndTakePortsInEveryLanguage) {
    storeStudio([](StackProfile& studio) { studio.databasePort = 13300; });
    startMonitor();
    showSelected();
    std::int64_t port = 10000;
    for (AppLanguage language : AppLanguages::allCases) {
        SCOPED_TRACE(AppLanguages::id(language));
        preferences.setLanguage(language);
        EXPECT_EQ(text("databasePortField"), "13300");
        EXPECT_EQ(text("phpPortField"), "9084");
        type("httpPortField", QString::number(++port));
        EXPECT_EQ(draft().profile().httpPort, port);
        EXPECT_EQ(text("httpPortField"), std::to_string(port));
    }
}

TEST_F(EditorPortsTest, TypingThatIsNoNumberLeavesTheDraftAndIsPutRightOnLeaving) {
    startMonitor();
    showSelected();
    type("httpPortField", "80ab");
    EXPECT_EQ(draft().profile().httpPort, 80);
    // The typed text stays while the field has the focus, also across polls.
    letPollsPass();
    EXPECT_EQ(text("httpPortField"), "80ab");
    type("httpPortField", "letters");
    EXPECT_EQ(draft().profile().httpPort, 80);
    find<QLineEdit>("nameField")->setFocus();
    EXPECT_EQ(text("httpPortField"), "80");
    // No range check here: saving refuses what the engine cannot use.
    type("phpPortField", "70000");
    EXPECT_EQ(draft().profile().phpPort, 70000);
    // A port the draft gets from elsewhere replaces a focused number.
    type("databasePortField", "13400");
    click("discardButton");
    EXPECT_EQ(text("databasePortField"), "13307");

    // The editor may go while a field holds unfinished text.
    type("httpPortField", "81x");
    QPointer<EnvironmentEditor> gone = editor();
    model().setSelectedID("legacy");
    ASSERT_TRUE(waitFor([&] { return gone.isNull(); }));
    EXPECT_EQ(text("httpPortField"), "8081");
}

TEST_F(EditorPortsTest, TheRowsFollowHTTPSAndRoutingByHostname) {
    startMonitor();
    showSelected();
    EXPECT_EQ(rows(), (std::vector<std::string>{"HTTP", "PHP-FPM", "MariaDB"}));
    tickHTTPS();
    EXPECT_EQ(rows(), (std::vector<std::string>{"HTTP", "HTTPS", "PHP-FPM", "MariaDB"}));
    auto* hostname = find<QLineEdit>("hostnameField");
    hostname->setFocus();
    QTest::keyClicks(hostname, "studio.test");
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"Internal HTTP", "Internal HTTPS", "PHP-FPM", "MariaDB"}));
    hostname->selectAll();
    QTest::keyClick(hostname, Qt::Key_Backspace);
    EXPECT_FALSE(draft().profile().virtualHost);
    EXPECT_EQ(rows(), (std::vector<std::string>{"HTTP", "HTTPS", "PHP-FPM", "MariaDB"}));
    tickHTTPS();
    EXPECT_EQ(rows(), (std::vector<std::string>{"HTTP", "PHP-FPM", "MariaDB"}));

    // Names of the fields: "%@ port" with the English title inside.
    EXPECT_EQ(find<QLineEdit>("phpPortField")->accessibleName(), "PHP-FPM port");
    EXPECT_EQ(find<QLineEdit>("phpPortField")->placeholderText(), "PHP-FPM port");
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(find<QLineEdit>("httpPortField")->accessibleName(), "HTTP-Port");
    EXPECT_EQ(text("localhostNote"), "Nur localhost");
    preferences.setLanguage(AppLanguage::french);
    EXPECT_EQ(find<QLineEdit>("databasePortField")->accessibleName(), "Port MariaDB");
    EXPECT_EQ(find<PortsSection>("portsSection")->width(), PortsSection::sectionWidth);
    EXPECT_EQ(find<QLineEdit>("httpPortField")->width(), PortsSection::fieldWidth);
}

TEST_F(EditorPortsTest, TickingHTTPSFillsTheSuggestedPortOnceAndKeepsIt) {
    // Ports from 8443 up are taken by other environments.
    auto profiles = StackProfile::defaults();
    profiles[1].httpsPort = 8443;
    profiles[1].phpPort = 8444;
    engine->setProfiles(profiles);
    startMonitor();
    showSelected();
    ASSERT_EQ(model().suggestedHTTPSPort(), 8445);
    EXPECT_EQ(draft().profile().httpsPort, std::nullopt);

    tickHTTPS();
    EXPECT_EQ(draft().profile().httpsPort, 8445);
    EXPECT_EQ(text("httpsPortField"), "8445");
    type("httpsPortField", "9443");
    tickHTTPS();
    EXPECT_FALSE(draft().profile().httpsEnabled);
    EXPECT_EQ(draft().profile().httpsPort, 9443);
    tickHTTPS();
    EXPECT_EQ(draft().profile().httpsPort, 9443);
}

TEST_F(EditorPortsTest, AnHTTPSRecordWithoutAPortShowsTheSuggestionWithoutStoringIt) {
    // Shown as it is stored: the watch ignores the value the editor starts
    // with, so the draft stays equal to the saved record.
    storeStudio([](StackProfile& studio) { studio.httpsEnabled = true; });
    startMonitor();
    showSelected();
    EXPECT_EQ(draft().profile().httpsPort, std::nullopt);
    EXPECT_FALSE(editor()->state().unsaved());
    EXPECT_EQ(text("httpsPortField"), "8443");
    type("httpsPortField", "8450");
    EXPECT_EQ(draft().profile().httpsPort, 8450);

    // A record with HTTPS on and a port keeps that port as it is.
    storeStudio([](StackProfile& studio) {
        studio.httpsEnabled = true;
        studio.httpsPort = 9000;
    });
    reload();
    EXPECT_EQ(draft().profile().httpsPort, 9000);
    EXPECT_FALSE(editor()->state().unsaved());
}

} // namespace
} // namespace vessora
