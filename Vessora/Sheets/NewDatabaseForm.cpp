#include "Vessora/Sheets/NewDatabaseForm.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

NewDatabaseForm::NewDatabaseForm(DatabaseManagerDraft& draft, QWidget* parent)
    : DatabaseManagerForm(draft, parent) {
    setObjectName("newDatabaseForm");
    name_ = new QLineEdit(this);
    name_->setObjectName("databaseNameField");
    fields()->addWidget(name_);
    grant_ = new QCheckBox(this);
    grant_->setObjectName("grantApplicationCheck");
    fields()->addWidget(grant_);
    note_ = new QLabel(this);
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);
    fields()->addWidget(note_);

    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { this->draft().setDatabaseName(text.toStdString()); });
    connect(grant_, &QCheckBox::toggled, this,
            [this](bool checked) { this->draft().setGrantApplication(checked); });
}

void NewDatabaseForm::render() {
    name_->setPlaceholderText(toQt(L10n::text("Database name")));
    Style::syncText(name_, draft().databaseName());
    {
        const QSignalBlocker blocker(grant_);
        grant_->setText(Style::buttonText(L10n::text("Give vessora full access to this database")));
        grant_->setChecked(draft().grantApplication());
    }
    note_->setText(
        toQt(L10n::text("The database is created immediately with utf8mb4. Existing databases are "
                        "kept.")));
    renderFrame(L10n::text("New database"), L10n::text("Create database"),
                draft().canCreateDatabase());
}

void NewDatabaseForm::cancel() {
    draft().setShowDatabase(false);
}

void NewDatabaseForm::submit() {
    draft().createDatabase();
}

} // namespace vessora
