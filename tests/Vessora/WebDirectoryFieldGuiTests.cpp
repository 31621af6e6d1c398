// The web-folder field through the fake chooser: the managed folder, a
// chosen folder, cancelling, resetting and the shortened title.
#include "Vessora/Controls/ElidingButton.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "tests/Vessora/Support/FormTest.hpp"

#include <QPointer>
#include <QSignalSpy>
#include <QToolButton>

namespace vessora {
namespace {

class WebDirectoryFieldTest : public FormTest {
protected:
    WebDirectoryField* makeField() {
        auto* field = new WebDirectoryField(preferences, &window);
        field->show();
        return field;
    }
};

TEST_F(WebDirectoryFieldTest, ChooseCancelAndResetToTheManagedFolder) {
    WebDirectoryField* field = makeField();
    QSignalSpy edits(field, &WebDirectoryField::pathEdited);
    ElidingButton* choose = field->chooseButton();
    EXPECT_EQ(choose->text(), "Default folder");
    EXPECT_EQ(choose->toolTip(),
              "Choose an existing project folder, or keep Vessora’s managed folder.");
    EXPECT_EQ(choose->accessibleName(), "Choose web directory");
    EXPECT_TRUE(field->resetButton()->isHidden());

    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(chooser->requests.size(), 1u);
    EXPECT_TRUE(chooser->requests.front().folder);
    EXPECT_EQ(chooser->requests.front().title, "Choose web directory");
    EXPECT_EQ(chooser->requests.front().prompt, "Choose folder");
    EXPECT_FALSE(chooser->requests.front().start);
    chooser->answer(std::filesystem::path("/srv/shop/public"));
    EXPECT_EQ(field->path(), "/srv/shop/public");
    EXPECT_EQ(edits.count(), 1);
    EXPECT_EQ(choose->text(), "public");
    EXPECT_EQ(choose->toolTip(), "/srv/shop/public");
    EXPECT_FALSE(field->resetButton()->isHidden());
    EXPECT_EQ(field->resetButton()->toolTip(), "Use default folder");
    EXPECT_EQ(field->resetButton()->accessibleName(), "Use default folder");

    // Choosing again starts in the chosen folder; cancelling keeps it.
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(chooser->requests.size(), 1u);
    EXPECT_EQ(chooser->requests.front().start, std::filesystem::path("/srv/shop/public"));
    chooser->answer(std::nullopt);
    EXPECT_EQ(field->path(), "/srv/shop/public");
    EXPECT_EQ(edits.count(), 1);

    QTest::mouseClick(field->resetButton(), Qt::LeftButton);
    EXPECT_FALSE(field->path());
    EXPECT_EQ(edits.count(), 2);
    EXPECT_EQ(choose->text(), "Default folder");
    EXPECT_TRUE(field->resetButton()->isHidden());

    // Cancelling with no folder keeps the managed one.
    QTest::mouseClick(choose, Qt::LeftButton);
    chooser->answer(std::nullopt);
    EXPECT_FALSE(field->path());
    EXPECT_EQ(edits.count(), 2);

    // Shown values from the form are not edits.
    field->setPath("/srv/blog");
    EXPECT_EQ(choose->text(), "blog");
    EXPECT_EQ(edits.count(), 2);

    preferences.setLanguage(AppLanguage::italian);
    field->setPath(std::nullopt);
    EXPECT_EQ(choose->text(), "Cartella predefinita");
    EXPECT_EQ(choose->accessibleName(), "Scegli la cartella web");
}

TEST_F(WebDirectoryFieldTest, AnAnswerAfterTheFieldIsGoneIsDropped) {
    QPointer<WebDirectoryField> field = makeField();
    QTest::mouseClick(field->chooseButton(), Qt::LeftButton);
    delete field.data();
    chooser->answer(std::filesystem::path("/srv/shop"));
    EXPECT_TRUE(field.isNull());
}

TEST_F(WebDirectoryFieldTest, ALongFolderNameStaysOnOneLineShortenedInTheMiddle) {
    WebDirectoryField* field = makeField();
    const std::string name = "a-very-long-project-folder-name-that-cannot-fit-in-the-row-end";
    field->setPath("/srv/" + name);
    field->resize(220, field->sizeHint().height());
    QTest::qWait(0);
    ElidingButton* choose = field->chooseButton();
    EXPECT_EQ(choose->text().toStdString(), name);
    const QString shown = choose->shownText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("a-very")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("-end")) << shown.toStdString();
    EXPECT_LE(choose->width(), 220);
    EXPECT_EQ(choose->height(), choose->sizeHint().height());
}

} // namespace
} // namespace vessora
