// The hostname field: what typing does to the three bound values, the
// "Without port number" box, the rule message and the ".local" hint, and a
// redraw while the user types.
#include "Vessora/Controls/LocalAddressField.hpp"
#include "tests/Vessora/Support/FormTest.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>

namespace vessora {
namespace {

using Value = LocalAddressField::Value;

class LocalAddressFieldTest : public FormTest {
protected:
    LocalAddressField* makeField() {
        auto* field = new LocalAddressField(preferences, &window);
        // The form echoes every edit back, as a draft's redraw does.
        QObject::connect(field, &LocalAddressField::valueEdited, field,
                         [field] { field->setValue(field->value()); });
        field->show();
        field->lineEdit()->setFocus();
        return field;
    }

    // Replaces the whole text as the user would, by selecting and typing.
    static void type(LocalAddressField* field, const QString& text) {
        field->lineEdit()->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field->lineEdit(), Qt::Key_Backspace);
        else
            QTest::keyClicks(field->lineEdit(), text);
    }

    static QString message(LocalAddressField* field) {
        return field->messageLabel()->isHidden() ? QString() : field->messageLabel()->text();
    }
};

const QString rule = "Use a local hostname such as project.test (letters, numbers and hyphens).";
const QString localHint =
    ".local is also used by multicast DNS (mDNS). We recommend .test for local projects.";

TEST_F(LocalAddressFieldTest, TypingKeepsTheTextAndTheRoutingFlagsInStep) {
    LocalAddressField* field = makeField();
    QSignalSpy edits(field, &LocalAddressField::valueEdited);
    EXPECT_EQ(field->value(), Value{});
    EXPECT_TRUE(field->withoutPortBox()->isHidden());
    EXPECT_EQ(message(field), "");
    EXPECT_EQ(field->lineEdit()->placeholderText(), "Optional, e.g. project.test");
    EXPECT_EQ(field->lineEdit()->accessibleName(), "Hostname");

    // Capitals stay as typed; routing turns on; ".local" gets the hint.
    type(field, "Shop.Local");
    EXPECT_EQ(field->value(), (Value{"Shop.Local", true, false}));
    EXPECT_FALSE(field->withoutPortBox()->isHidden());
    EXPECT_EQ(message(field), localHint);
    EXPECT_EQ(field->withoutPortBox()->text(), "Without port number");

    QTest::mouseClick(field->withoutPortBox(), Qt::LeftButton);
    EXPECT_EQ(field->value(), (Value{"Shop.Local", true, true}));

    // An invalid but non-blank name keeps both flags and shows the rule.
    type(field, "shop");
    EXPECT_EQ(field->value(), (Value{"shop", true, true}));
    EXPECT_EQ(message(field), rule);

    // Only spaces: a hostname is set, so the box stays, but nothing routes.
    type(field, "   ");
    EXPECT_EQ(field->value(), (Value{"   ", false, false}));
    EXPECT_FALSE(field->withoutPortBox()->isHidden());
    EXPECT_FALSE(field->withoutPortBox()->isChecked());
    EXPECT_EQ(message(field), "");

    type(field, "blog.test");
    QTest::mouseClick(field->withoutPortBox(), Qt::LeftButton);
    EXPECT_EQ(field->value(), (Value{"blog.test", true, true}));
    EXPECT_EQ(message(field), "");

    // Clearing the field clears everything and hides the box.
    type(field, "");
    EXPECT_EQ(field->value(), Value{});
    EXPECT_TRUE(field->withoutPortBox()->isHidden());
    EXPECT_EQ(message(field), "");
    EXPECT_GT(edits.count(), 0);
}

TEST_F(LocalAddressFieldTest, TheRuleMessageAndTheHint) {
    struct Case {
        std::optional<std::string> hostname;
        QString message;
    };
    const std::vector<Case> cases = {
        {std::nullopt, ""},
        {"  ", ""},
        {" Shop.TEST ", ""},
        {"shop.test", ""},
        {"shop", rule},
        {"shop.com", rule},
        {"-shop.test", rule},
        {"shop_1.test", rule},
        {"shop.local", localHint},
        {"SHOP.LOCAL", localHint},
        // The hint reads the name untrimmed.
        {"shop.local ", ""},
        {"x.local.test", ""},
    };
    LocalAddressField* field = makeField();
    for (const Case& c : cases) {
        field->setValue({c.hostname, c.hostname.has_value(), false});
        EXPECT_EQ(message(field), c.message) << c.hostname.value_or("(none)");
    }
    field->setValue({"shop", true, false});
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(message(field).toStdString(), "Verwende einen lokalen Hostnamen wie project.test "
                                            "(Buchstaben, Ziffern und Bindestriche).");
}

TEST_F(LocalAddressFieldTest, ARedrawWhileTypingKeepsTheCursorAndTheText) {
    LocalAddressField* field = makeField();
    QSignalSpy edits(field, &LocalAddressField::valueEdited);
    QTest::keyClicks(field->lineEdit(), "Shop.tst");
    ASSERT_EQ(field->value().hostname, "Shop.tst");
    const int typed = edits.count();
    // The user goes back to fix the typo.
    field->lineEdit()->setCursorPosition(6);
    QTest::keyClick(field->lineEdit(), Qt::Key_E);
    EXPECT_EQ(field->value().hostname, "Shop.test");
    EXPECT_EQ(field->lineEdit()->cursorPosition(), 7);

    // Redraws with the bound value change nothing and report nothing.
    field->setValue(field->value());
    field->render();
    preferences.setLanguage(AppLanguage::french);
    EXPECT_EQ(field->lineEdit()->text(), "Shop.test");
    EXPECT_EQ(field->lineEdit()->cursorPosition(), 7);
    EXPECT_EQ(edits.count(), typed + 1);

    // A value changed by the form itself is shown.
    field->setValue({"blog.test", true, false});
    EXPECT_EQ(field->lineEdit()->text(), "blog.test");
    EXPECT_EQ(edits.count(), typed + 1);
}

} // namespace
} // namespace vessora
