#include "Vessora/Sheets/LocalHostSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

LocalHostSheet::LocalHostSheet(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QDialog(parent), model_(model), title_(new QLabel(this)), close_(new QPushButton(this)) {
    setObjectName("localHostSheet");
    title_->setObjectName("sheetTitle");
    close_->setObjectName("closeButton");
    QFont font = title_->font();
    font.setBold(true);
    title_->setFont(font);
    close_->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(close_, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this] { model_.setShowLocalHosts(false); });
    connect(&preferences, &AppPreferences::changed, this, &LocalHostSheet::render);
    render();
}

void LocalHostSheet::render() {
    setWindowTitle(toQt(L10n::text("Local addresses")));
    title_->setText(toQt(L10n::text("Local addresses")));
    close_->setText(toQt(L10n::text("Close")));
}

} // namespace vessora
