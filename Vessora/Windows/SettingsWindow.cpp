#include "Vessora/Windows/SettingsWindow.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QVBoxLayout>

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

void SettingsWindow::render() {
    setWindowTitle(toQt(L10n::text("Settings")));
}

} // namespace vessora
