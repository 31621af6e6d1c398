// Base of the environment editor's tests: the forms' fixture, recorded
// desktop requests, and a host that shows the editor of the model's
// selected environment the way the main window does - made anew only when
// the saved record changes or another environment is selected.
#pragma once

#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "tests/Vessora/Support/FormTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <optional>
#include <string>

namespace vessora {

class EditorTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        DesktopServices::setCurrent(desktop);
        // The detail column of the main window at its smallest.
        window.resize(640, 760);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(18, 18, 18, 18);
        layout->addStretch(1);
    }

    void TearDown() override {
        QObject::disconnect(&model(), nullptr, &window, nullptr);
        editor_ = nullptr;
        FormTest::TearDown();
        delete window.layout();
        DesktopServices::setCurrent(nullptr);
    }

    // Starts following the model's selection, as the main window does.
    EnvironmentEditor* showSelected() {
        QObject::connect(&model(), &AppModel::changed, &window, [this] { follow(); });
        follow();
        return editor_;
    }

    EnvironmentEditor* editor() const { return editor_; }
    ProfileDraft& draft() const { return editor_->draft(); }

    // The two built-in records with `change` applied to "studio", stored
    // in the engine; the monitor loads them.
    template <typename Change>
    void storeStudio(Change change) {
        auto profiles = StackProfile::defaults();
        change(profiles.front());
        engine->setProfiles(profiles);
    }

    // Everything the environments need is installed, and the model knows
    // it; the pickers offer the built-in catalogue.
    void installEverything() {
        InstallationStatus status;
        status.packages = PackageCatalog::fallback();
        for (const auto& profile : engine->storedProfiles())
            for (const auto& formula : profile.formulae())
                status.installed[formula] = true;
        for (const char* formula : {"nginx", "httpd", "phpmyadmin"})
            status.installed[formula] = true;
        engine->setInstallations(status);
        refreshPackages();
    }

    // Sets up local addresses through the model, as the local-addresses
    // sheet does; the helper registration is enabled at once.
    void connectLocalAddresses() {
        hostSetup->setStatus(ServiceStatus::enabled);
        model().setUpLocalHosts();
        ASSERT_TRUE(waitFor([&] { return model().localHostReady() && !model().busy(); }));
    }

    // Reloads the records through the model, as after any action.
    void reload() {
        ASSERT_TRUE(model().perform("Reloading", false, [](AppEngine&) {}));
        ASSERT_TRUE(waitForIdle());
    }

    // Lets at least `count` further polls reach the model.
    void letPollsPass(int count = 3) {
        const int before = engine->calls("statuses");
        ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= before + count + 1; }));
        QTest::qWait(10);
    }

    // A child of the editor by object name; fails the test when absent.
    template <typename Widget = QWidget>
    Widget* find(const char* name) const {
        Widget* widget = editor_ ? editor_->findChild<Widget*>(name) : nullptr;
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    std::string text(const char* name) const {
        if (auto* label = editor_->findChild<QLabel*>(name))
            return label->text().toStdString();
        if (auto* button = editor_->findChild<QAbstractButton*>(name))
            return button->text().toStdString();
        if (auto* field = editor_->findChild<QLineEdit*>(name))
            return field->text().toStdString();
        ADD_FAILURE() << "no text widget " << name;
        return {};
    }

    bool shown(const char* name) const {
        QWidget* widget = find(name);
        return widget && widget->isVisibleTo(&window);
    }

    bool enabled(const char* name) const {
        QWidget* widget = find(name);
        return widget && widget->isEnabled();
    }

    void click(const char* name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << name;
        ASSERT_TRUE(button->isVisibleTo(&window)) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Replaces a field's text as a user would, keeping the focus there.
    void type(const char* name, const QString& text) {
        auto* field = find<QLineEdit>(name);
        ASSERT_NE(field, nullptr);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();

private:
    void follow() {
        const std::optional<StackProfile> selected = model().selectedProfile();
        if (editor_ && selected && editor_->saved() == *selected)
            return;
        if (editor_) {
            editor_->hide();
            editor_->deleteLater();
            editor_ = nullptr;
        }
        if (!selected)
            return;
        editor_ = new EnvironmentEditor(model(), preferences, *selected, &window);
        static_cast<QVBoxLayout*>(window.layout())->insertWidget(0, editor_);
        editor_->show();
    }

    QPointer<EnvironmentEditor> editor_;
};

} // namespace vessora
