#include "Vessora/App/AppShell.hpp"

#include "Vessora/App/Branding.hpp"
#include "Vessora/Windows/MainWindow.hpp"

#include <QApplication>

namespace vessora {

AppShell::Options AppShell::Options::standard() {
    Options options;
    options.model = AppModel::Options::standard();
    options.defaults = UserDefaults::standard();
    return options;
}

AppShell::AppShell(Options options, QObject* parent)
    : QObject(parent), preferences_(std::make_unique<AppPreferences>(options.defaults)),
      exit_(options.exit ? std::move(options.exit) : [] { QCoreApplication::exit(0); }) {
    preferences_->writeSystemLanguages();
    model_ = std::make_unique<AppModel>(std::move(options.model));
    window_ = std::make_unique<MainWindow>(*model_, *preferences_);

    connect(window_.get(), &MainWindow::quitRequested, this, &AppShell::requestQuit);
    connect(window_.get(), &MainWindow::settingsRequested, this, &AppShell::openSettings);
    connect(window_.get(), &MainWindow::checkForUpdatesRequested, this, &AppShell::checkForUpdates);
}

AppShell::~AppShell() {
    model_->stopMonitor();
    // The window and its sheets go before the model they read.
    window_.reset();
    model_.reset();
}

void AppShell::start() {
    QApplication::setWindowIcon(Branding::appIcon());
    window_->setWindowIcon(Branding::appIcon());
    window_->show();
    window_->raise();
    window_->activateWindow();
    model_->startMonitor();
}

void AppShell::requestQuit() {
    // The stop that runs will end the program.
    if (terminating_)
        return;
    terminating_ = true;
    model_->shutdown([this] {
        model_->stopMonitor();
        window_->setClosingAllowed(true);
        emit quitFinished();
        exit_();
    });
}

void AppShell::openSettings() {
    // Hook: the settings window with PreferencesView.
}

void AppShell::checkForUpdates() {
    // Hook: AppUpdates::checkManually().
}

} // namespace vessora
