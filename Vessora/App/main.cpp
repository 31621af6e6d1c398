// The program entry: refuses root, then runs the application model behind
// the main window until the window closes or the session asks it to quit.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/BuildInfo.hpp"
#include "Vessora/App/QuitOnSignal.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QMainWindow>

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

    QApplication application(argc, argv);
    QApplication::setApplicationName("Vessora");
    QApplication::setApplicationVersion(QString::fromStdString(BuildInfo::current().version));

    std::unique_ptr<QuitOnSignal> quitOnSignal;
    try {
        quitOnSignal = std::make_unique<QuitOnSignal>();
    } catch (const std::exception& error) {
        // Only the orderly quit on a signal is lost.
        std::cerr << error.what() << '\n';
    }

    AppModel model;
    QMainWindow window;
    window.setWindowTitle("Vessora");
    window.resize(920, 480);
    window.show();
    model.startMonitor();
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &model, &AppModel::stopMonitor);
    return application.exec();
}
