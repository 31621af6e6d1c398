#include "Vessora/Sheets/DatabasePasswordForm.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSecretFields.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

DatabasePasswordForm::DatabasePasswordForm(DatabaseManagerDraft& draft, QWidget* parent)
    : DatabaseManagerForm(draft, parent) {
    setObjectName("passwordForm");
    account_ = new QLabel(this);
    account_->setObjectName("passwordAccount");
    account_->setTextFormat(Qt::PlainText);
    account_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SheetStyle::makeCallout(account_);
    FormStyle::makeSecondary(account_);
    fields()->addWidget(account_);
    secrets_ = new DatabaseSecretFields(draft, this);
    fields()->addWidget(secrets_);
    note_ = new QLabel(this);
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);
    fields()->addWidget(note_);
}

void DatabasePasswordForm::render() {
    const std::optional<DatabaseAccount> account = draft().user();
    account_->setText(toQt(account ? account->id() : std::string()));
    secrets_->render();
    note_->setText(toQt(
        L10n::text("The password changes immediately. Reconnect clients using the new password; "
                   "existing connections may remain active.")));
    renderFrame(L10n::text("Change password"), L10n::text("Save password"),
                draft().canSavePassword());
}

void DatabasePasswordForm::cancel() {
    draft().setShowPassword(false);
}

void DatabasePasswordForm::submit() {
    draft().changePassword();
}

} // namespace vessora
