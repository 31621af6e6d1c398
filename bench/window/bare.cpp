// The anchor of the window benchmark: a bare Qt main window, shown at once.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(960, 640);
    window.show();
    return application.exec();
}
