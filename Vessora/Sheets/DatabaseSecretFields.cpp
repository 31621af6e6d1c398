#include "Vessora/Sheets/DatabaseSecretFields.hpp"

#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLineEdit>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

DatabaseSecretFields::DatabaseSecretFields(DatabaseManagerDraft& draft, QWidget* parent)
    : QWidget(parent), draft_(draft) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    password_ = new QLineEdit(this);
    password_->setObjectName("passwordField");
    confirmation_ = new QLineEdit(this);
    confirmation_->setObjectName("confirmationField");
    for (QLineEdit* field : {password_, confirmation_}) {
        field->setEchoMode(QLineEdit::Password);
        layout->addWidget(field);
    }
    connect(password_, &QLineEdit::textEdited, this,
            [this](const QString& text) { draft_.setPassword(text.toStdString()); });
    connect(confirmation_, &QLineEdit::textEdited, this,
            [this](const QString& text) { draft_.setConfirmation(text.toStdString()); });
}

void DatabaseSecretFields::render() {
    password_->setPlaceholderText(toQt(L10n::text("Password")));
    confirmation_->setPlaceholderText(toQt(L10n::text("Confirm password")));
    Style::syncText(password_, draft_.password());
    Style::syncText(confirmation_, draft_.confirmation());
    setEnabled(!draft_.model().busy());
}

} // namespace vessora
