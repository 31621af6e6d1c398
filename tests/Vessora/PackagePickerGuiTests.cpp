// The version picker: its items, download marks and disabled entries, the
// chosen value, and redraws that neither rebuild the menu needlessly nor
// write a value back.
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "tests/Vessora/Support/FormTest.hpp"

#include <QSignalSpy>
#include <QStandardItemModel>

namespace vessora {
namespace {

class PackagePickerTest : public FormTest {
protected:
    PackagePicker* makePicker(const std::string& selection) {
        auto* picker = new PackagePicker(model(), preferences, "PHP", PackageFamily::php, &window);
        picker->setSelection(selection);
        picker->show();
        return picker;
    }

    static QStandardItem* item(PackagePicker* picker, int row) {
        return static_cast<QStandardItemModel*>(picker->popUp()->model())->item(row);
    }

    // Whether the item shows the download mark.
    static bool marked(QStandardItem* item) {
        const QImage shown = item->icon().pixmap(16).toImage();
        const bool image =
            !shown.isNull() && shown == VersionPopUp::downloadMark().pixmap(16).toImage();
        const bool described =
            item->data(Qt::AccessibleDescriptionRole).toString() == "Download required";
        EXPECT_EQ(image, described) << item->text().toStdString();
        return image;
    }

    static int rowOf(PackagePicker* picker, const std::string& id) {
        return picker->popUp()->findData(QString::fromStdString(id), Qt::UserRole);
    }

    // A catalogue as Homebrew reports it: 8.4 installed, 8.3 to download,
    // 8.0 disabled but installed, 7.4 disabled and absent.
    static InstallationStatus catalogue() {
        InstallationStatus status;
        status.packages = {
            {"php@8.4", PackageFamily::php, "8.4.7", "8.4.7", false, false},
            {"php@8.3", PackageFamily::php, "8.3.20", std::nullopt, false, false},
            {"php@8.0", PackageFamily::php, "8.0.30", "8.0.30", false, true},
            {"php@7.4", PackageFamily::php, "7.4.33", std::nullopt, false, true},
            {"mariadb@11.4", PackageFamily::mariaDB, "11.4.5", std::nullopt, false, false},
            {"nginx", PackageFamily::webserver, "1.27.4", "1.27.4", false, false},
        };
        status.installed = {{"php@8.4", true}, {"php@8.3", false}, {"php@8.0", true}};
        return status;
    }
};

TEST_F(PackagePickerTest, BeforeTheFirstRefreshNothingIsMarkedAndAMissingFormulaIsGreyedLast) {
    auto* picker = makePicker("php@5.6");
    VersionPopUp* popUp = picker->popUp();
    int phpEntries = 0;
    for (const BrewPackage& package : PackageCatalog::fallback())
        phpEntries += package.family == PackageFamily::php ? 1 : 0;
    ASSERT_EQ(popUp->count(), phpEntries + 1);
    for (int row = 0; row < popUp->count(); ++row)
        EXPECT_TRUE(item(picker, row)->icon().isNull()) << row;
    const int last = popUp->count() - 1;
    EXPECT_EQ(popUp->itemText(last), "5.6 · disabled");
    EXPECT_EQ(popUp->itemData(last, Qt::UserRole).toString(), "php@5.6");
    EXPECT_FALSE(item(picker, last)->isEnabled());
    EXPECT_EQ(popUp->currentIndex(), last);
    EXPECT_EQ(popUp->accessibleName(), "PHP");
    EXPECT_EQ(popUp->size(), QSize(PackagePicker::width, PackagePicker::height));
    EXPECT_TRUE(popUp->toolTip().startsWith("The download icon marks a package"));
}

TEST_F(PackagePickerTest, AfterARefreshOnlyPackagesToDownloadAreMarked) {
    ASSERT_FALSE(VersionPopUp::downloadMark().isNull());
    engine->setInstallations(catalogue());
    auto* picker = makePicker("php@8.4");
    refreshPackages();
    VersionPopUp* popUp = picker->popUp();
    ASSERT_EQ(popUp->count(), 4);
    EXPECT_EQ(popUp->itemText(0), "8.4 (8.4.7)");
    EXPECT_EQ(popUp->currentIndex(), 0);

    QStandardItem* installed = item(picker, rowOf(picker, "php@8.4"));
    QStandardItem* missing = item(picker, rowOf(picker, "php@8.3"));
    QStandardItem* disabledInstalled = item(picker, rowOf(picker, "php@8.0"));
    QStandardItem* disabledMissing = item(picker, rowOf(picker, "php@7.4"));
    EXPECT_FALSE(marked(installed));
    EXPECT_TRUE(marked(missing));
    // A formula Homebrew disabled is never marked, and can be chosen only
    // while it is installed.
    EXPECT_FALSE(marked(disabledInstalled));
    EXPECT_FALSE(marked(disabledMissing));
    EXPECT_TRUE(installed->isEnabled());
    EXPECT_TRUE(missing->isEnabled());
    EXPECT_TRUE(disabledInstalled->isEnabled());
    EXPECT_FALSE(disabledMissing->isEnabled());
    EXPECT_EQ(disabledMissing->text(), "7.4 (7.4.33) · disabled");

    // The titles and marks follow the interface language.
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(item(picker, rowOf(picker, "php@7.4"))->text(), "7.4 (7.4.33) · deaktiviert");
    EXPECT_EQ(item(picker, rowOf(picker, "php@8.3"))->data(Qt::AccessibleDescriptionRole),
              "Download erforderlich");
}

TEST_F(PackagePickerTest, RedrawsRebuildTheMenuOnlyForChangesAndNeverWriteBack) {
    // The fallback list again, so the first refresh changes only whether the
    // status is known.
    InstallationStatus unchanged;
    unchanged.packages = PackageCatalog::fallback();
    engine->setInstallations(unchanged);
    auto* picker = makePicker("php@8.3");
    QSignalSpy edits(picker, &PackagePicker::selectionEdited);
    VersionPopUp* popUp = picker->popUp();
    const int builds = popUp->menuBuilds();
    const int shown = popUp->currentIndex();

    refreshPackages();
    EXPECT_EQ(popUp->menuBuilds(), builds + 1);
    EXPECT_TRUE(marked(item(picker, rowOf(picker, "php@8.3"))));
    refreshPackages();
    preferences.setLanguage(AppLanguage::french);
    picker->setSelection("php@8.3");
    EXPECT_EQ(popUp->menuBuilds(), builds + 1);
    // Without a rebuild the marks still speak the new language.
    EXPECT_EQ(item(picker, rowOf(picker, "php@8.3"))->data(Qt::AccessibleDescriptionRole),
              "Téléchargement requis");
    EXPECT_EQ(item(picker, rowOf(picker, "php@8.3"))->toolTip(), "Téléchargement requis");
    preferences.setLanguage(AppLanguage::english);

    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(picker->selection(), "php@8.3");
    EXPECT_EQ(popUp->currentIndex(), shown);
    EXPECT_EQ(popUp->currentData(Qt::UserRole).toString(), "php@8.3");

    // A choice set by the form moves the shown item without a rebuild.
    picker->setSelection("php@8.4");
    EXPECT_EQ(popUp->currentData(Qt::UserRole).toString(), "php@8.4");
    EXPECT_EQ(popUp->menuBuilds(), builds + 1);
    EXPECT_EQ(edits.count(), 0);
}

TEST_F(PackagePickerTest, TheUsersPickIsStoredAndReported) {
    engine->setInstallations(catalogue());
    auto* picker = makePicker("php@8.3");
    refreshPackages();
    QSignalSpy edits(picker, &PackagePicker::selectionEdited);
    VersionPopUp* popUp = picker->popUp();
    const int builds = popUp->menuBuilds();

    // 8.0 follows 8.3 and is selectable (installed); 7.4 below it is not.
    popUp->setFocus();
    QTest::keyClick(popUp, Qt::Key_Down);
    ASSERT_EQ(edits.count(), 1);
    EXPECT_EQ(edits.front().front().toString(), "php@8.0");
    EXPECT_EQ(picker->selection(), "php@8.0");
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_EQ(edits.count(), 1);
    EXPECT_EQ(picker->selection(), "php@8.0");
    EXPECT_EQ(popUp->menuBuilds(), builds);

    // A disabled picker greys the whole button; the items keep their flags.
    picker->setEnabled(false);
    EXPECT_FALSE(popUp->isEnabled());
    EXPECT_TRUE(item(picker, rowOf(picker, "php@8.4"))->isEnabled());
    EXPECT_FALSE(item(picker, rowOf(picker, "php@7.4"))->isEnabled());
    QTest::keyClick(popUp, Qt::Key_Up);
    EXPECT_EQ(edits.count(), 1);
}

} // namespace
} // namespace vessora
