// Selectable text on at most two lines: whole while it fits, else both ends
// kept around an ellipsis, refitted when the width changes.
#include "Vessora/Sheets/ElidedSelectableText.hpp"

#include <QApplication>
#include <QTextBlock>
#include <QTextLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace vessora {
namespace {

// Lines the shown document takes at its current width.
int shownLines(ElidedSelectableText& text) {
    QTextDocument* document = text.document();
    document->size(); // lays it out
    int lines = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines += block.layout()->lineCount();
    return lines;
}

TEST(ElidedSelectableTextTest, ALongTextKeepsBothEndsOnTwoLines) {
    QWidget window;
    ElidedSelectableText text(&window);
    text.resize(240, 100);
    window.show();
    const QString path = "/home/someone/Projects/clients/2024/a-rather-long-project-name/with/"
                         "several/nested/folders/and/a-long-final-component/public";
    text.setFullText(path);
    QApplication::processEvents();

    const QString shown = text.text();
    EXPECT_EQ(text.fullText(), path);
    EXPECT_NE(shown, path);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(path.startsWith(shown.section(QChar(0x2026), 0, 0)));
    EXPECT_TRUE(path.endsWith(shown.section(QChar(0x2026), 1)));
    EXPECT_TRUE(shown.startsWith("/home/"));
    EXPECT_TRUE(shown.endsWith("/public"));
    EXPECT_EQ(shownLines(text), 2);
    EXPECT_EQ(text.toolTip(), path);
    // It asks for the height of what it shows, so nothing is cut off.
    EXPECT_NEAR(text.heightForWidth(240), text.heightForWidth(2000) * 2, 1);

    // Given room it shows the whole text again.
    text.resize(2000, 100);
    QApplication::processEvents();
    EXPECT_EQ(text.text(), path);
    EXPECT_EQ(shownLines(text), 1);
    EXPECT_TRUE(text.toolTip().isEmpty());

    // A short text is never shortened.
    text.resize(240, 100);
    text.setFullText("Shop");
    QApplication::processEvents();
    EXPECT_EQ(text.text(), "Shop");
}

TEST(ElidedSelectableTextTest, ShorteningNeverSplitsACharacter) {
    QWidget window;
    ElidedSelectableText text(&window, 1);
    text.resize(120, 100);
    window.show();
    // Each "e" carries a combining accent; each emoji is a surrogate pair.
    QString name;
    for (int i = 0; i < 30; ++i)
        name += QString::fromUtf8("e\xCC\x81\xF0\x9F\x98\x80");
    text.setFullText(name);
    QApplication::processEvents();
    const QString shown = text.text();
    ASSERT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_EQ(shownLines(text), 1);
    for (int i = 0; i < shown.size(); ++i) {
        if (shown[i].isHighSurrogate()) {
            EXPECT_TRUE(i + 1 < shown.size() && shown[i + 1].isLowSurrogate()) << i;
        }
        if (shown[i].isLowSurrogate()) {
            EXPECT_TRUE(i > 0 && shown[i - 1].isHighSurrogate()) << i;
        }
        if (shown[i].category() == QChar::Mark_NonSpacing) {
            EXPECT_TRUE(i > 0 && shown[i - 1] == 'e') << i;
        }
    }
}

} // namespace
} // namespace vessora
