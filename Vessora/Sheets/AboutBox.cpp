#include "Vessora/Sheets/AboutBox.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/Branding.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QPushButton>

namespace vessora {

AboutBox::AboutBox(const AppUpdates& updates, AppPreferences& preferences, QWidget* parent)
    : QMessageBox(parent), updates_(updates) {
    setObjectName("aboutBox");
    setTextFormat(Qt::PlainText);
    setIconPixmap(Branding::appIcon().pixmap(64, 64));
    ok_ = addButton(QString(), QMessageBox::AcceptRole);
    ok_->setObjectName("aboutOKButton");
    setDefaultButton(ok_);
    setEscapeButton(ok_);
    connect(&preferences, &AppPreferences::changed, this, &AboutBox::render);
    render();
}

void AboutBox::render() {
    setWindowTitle(toQt(L10n::text("About Vessora")));
    setText(QStringLiteral("Vessora"));
    setInformativeText(toQt(L10n::text("Version %@", {updates_.currentVersion()})));
    ok_->setText(toQt(L10n::text("OK")));
}

} // namespace vessora
