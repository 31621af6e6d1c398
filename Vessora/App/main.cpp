// The program entry: refuses root, loads Qt's own texts in the interface
// language, then runs the application until its orderly quit has stopped
// every environment. SIGTERM, SIGINT and SIGHUP take the same road as the
// close button.
#include "Vessora/App/AppShell.hpp"
#include "Vessora/App/Branding.hpp"
#include "Vessora/App/BuildInfo.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/App/QtTranslations.hpp"
#include "Vessora/App/QuitOnSignal.hpp"
#include "Vessora/App/StartupWarmup.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>

#include <iostream>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace vessora;
    // MariaDB and PHP-FPM refuse root, and files made as root would lock the
    // user out of their own data folder.
    if (::getuid() == 0 || ::geteuid() == 0) {
        std::cerr << L10n::text("Vessora does not run as root. Start it as your own user.") << '\n';
        return 1;
    }

    const StartupWarmup warmup;
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vessora");
    QApplication::setApplicationVersion(QString::fromStdString(BuildInfo::current().version));
    // The desktop matches the window to "vessora.desktop" and its icon.
    QGuiApplication::setDesktopFileName("vessora");
    // Only the shell ends the program, once the environments have stopped.
    QApplication::setQuitOnLastWindowClosed(false);
    QtTranslations::install(AppLanguages::id(L10n::language()));
    // Read while the window is being built.
    Branding::prefetch();
    Icons::prefetch();

    // Before the engine starts any server, so no signal can end the program
    // the plain way while one runs.
    std::unique_ptr<QuitOnSignal> quitOnSignal;
    try {
        quitOnSignal = std::make_unique<QuitOnSignal>();
    } catch (const std::exception& error) {
        // Only the orderly quit on a signal is lost.
        std::cerr << error.what() << '\n';
    }

    AppShell shell(AppShell::Options::standard());
    if (quitOnSignal)
        QObject::connect(quitOnSignal.get(), &QuitOnSignal::quitRequested, &shell,
                         &AppShell::requestQuit);
    shell.start();
    return application.exec();
}
