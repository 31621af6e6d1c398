#include "Vessora/App/AppShell.hpp"

#include "Vessora/App/Branding.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/PreferencesView.hpp"

#include <QApplication>

namespace vessora {

AppShell::Options AppShell::Options::standard() {
    Options options;
    options.model = AppModel::Options::standard();
    options.updates = AppUpdates::Options::standard();
    options.defaults = UserDefaults::standard();
    return options;
}

AppShell::AppShell(Options options, QObject* parent)
    : QObject(parent), preferences_(std::make_unique<AppPreferences>(options.defaults)),
      exit_(options.exit ? std::move(options.exit) : [] {
          // Queued, so it also ends a loop that has not started yet.
          QMetaObject::invokeMethod(
              QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
              Qt::QueuedConnection);
      }) {
    preferences_->writeSystemLanguages();
    updates_ = std::make_unique<AppUpdates>(std::move(options.updates));
    model_ = std::make_unique<AppModel>(std::move(options.model));
    window_ = std::make_unique<MainWindow>(*model_, *preferences_, *updates_);

    connect(window_.get(), &MainWindow::quitRequested, this, &AppShell::requestQuit);
    connect(window_.get(), &MainWindow::settingsRequested, this, &AppShell::openSettings);
}

AppShell::~AppShell() {
    model_->stopMonitor();
    // The windows (the settings window is the main window's child) and the
    // sheets go before the state they read.
    window_.reset();
    model_.reset();
    updates_.reset();
}

void AppShell::start() {
    if (terminating_)
        return;
    started_ = true;
    QApplication::setWindowIcon(Branding::windowIcon());
    window_->show();
    window_->raise();
    window_->activateWindow();
    model_->startMonitor();
    updates_->startAutomaticChecks(*preferences_);
}

void AppShell::openSettings() {
    if (!settings_) {
        settings_ = new SettingsWindow(*preferences_, new PreferencesView(*preferences_, *updates_),
                                       window_.get());
        settings_->placeOver(*window_);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void AppShell::requestQuit() {
    // The stop that runs will end the program.
    if (terminating_)
        return;
    terminating_ = true;
    updates_->cancel();
    if (!started_) {
        // No window yet, so no action and no server either.
        window_->setClosingAllowed(true);
        emit quitFinished();
        exit_();
        return;
    }
    model_->shutdown([this] {
        model_->stopMonitor();
        window_->setClosingAllowed(true);
        emit quitFinished();
        exit_();
    });
}

} // namespace vessora
