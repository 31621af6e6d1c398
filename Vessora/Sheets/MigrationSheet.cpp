#include "Vessora/Sheets/MigrationSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

MigrationSheet::MigrationSheet(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QDialog(parent), model_(model), title_(new QLabel(this)), close_(new QPushButton(this)) {
    setObjectName("migrationSheet");
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
    connect(this, &QDialog::finished, this, [this] { model_.setShowMigration(false); });
    connect(&preferences, &AppPreferences::changed, this, &MigrationSheet::render);
    render();
}

void MigrationSheet::render() {
    setWindowTitle(toQt(L10n::text("Import project")));
    title_->setText(toQt(L10n::text("Import project")));
    close_->setText(toQt(L10n::text("Close")));
}

} // namespace vessora
