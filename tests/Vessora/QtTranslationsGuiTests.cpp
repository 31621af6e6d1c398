// Qt's own texts follow the interface language chosen at start: Debian's
// translations of Qt are found and take effect.
#include "Vessora/App/QtTranslations.hpp"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace vessora {
namespace {

TEST(QtTranslationsTest, GermanQtTextsAfterInstallingGermanEnglishNeedsNone) {
    EXPECT_FALSE(QtTranslations::install("en"));
    EXPECT_FALSE(QtTranslations::install("xx"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Cancel");
    ASSERT_TRUE(QtTranslations::install("de"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Abbrechen");
}

} // namespace
} // namespace vessora
