#include "Vessora/Windows/SettingsWindow.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

SettingsWindow::SettingsWindow(AppPreferences& preferences, QWidget* content, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName("settingsWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    // The window is as large as its content asks, no larger.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(&preferences, &AppPreferences::changed, this, &SettingsWindow::render);
    render();
}

QPoint SettingsWindow::placement(QSize frame, QRect over, QRect screen) {
    QPoint corner(over.x() + (over.width() - frame.width()) / 2,
                  over.y() + (over.height() - frame.height()) / 2);
    corner.setX(std::max(screen.left(), std::min(corner.x(), screen.right() + 1 - frame.width())));
    corner.setY(std::max(screen.top(), std::min(corner.y(), screen.bottom() + 1 - frame.height())));
    return corner;
}

void SettingsWindow::placeOver(const QWidget& window) {
    adjustSize();
    const QScreen* screen = window.screen();
    if (!screen)
        return;
    // The frame's decoration is unknown before the first show: keep room
    // for it as the main window's own frame has it.
    const QSize decoration = window.frameGeometry().size() - window.geometry().size();
    const QPoint corner =
        placement(size() + decoration, window.frameGeometry(), screen->availableGeometry());
    move(corner);
}

void SettingsWindow::render() {
    setWindowTitle(toQt(L10n::text("Settings")));
}

} // namespace vessora
