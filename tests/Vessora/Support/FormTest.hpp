// Base of the tests of the forms and their controls: the model's fixture,
// preferences on the standard (in-memory) defaults that L10n reads, a fake
// folder chooser and a shown window to parent the widgets. The interface
// language and the chooser are put back afterwards.
#pragma once

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"

#include <QWidget>

#include <memory>

namespace vessora {

class FormTest : public AppModelTest {
protected:
    void SetUp() override {
        FileChooser::setCurrent(chooser);
        window.resize(700, 600);
        window.show();
    }

    void TearDown() override {
        preferences.setLanguage(AppLanguage::english);
        // The widgets go before the model they refer to.
        qDeleteAll(window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
        FileChooser::setCurrent(nullptr);
        AppModelTest::TearDown();
    }

    // Loads the packages the fake engine reports, as the window's refresh
    // does.
    void refreshPackages() {
        bool done = false;
        model().refreshPackages([&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
    }

    AppPreferences preferences;
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
    QWidget window;
};

} // namespace vessora
