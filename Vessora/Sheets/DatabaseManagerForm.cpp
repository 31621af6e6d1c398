#include "Vessora/Sheets/DatabaseManagerForm.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

DatabaseManagerForm::DatabaseManagerForm(DatabaseManagerDraft& draft, QWidget* parent)
    : QDialog(parent), draft_(draft) {
    setWindowModality(Qt::WindowModal);
    setFixedWidth(formWidth);
    FormStyle::makeSmall(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    title_ = new QLabel(this);
    title_->setObjectName("formTitle");
    SheetStyle::makeTitle(title_);
    layout->addWidget(title_);
    fields_ = new QVBoxLayout();
    fields_->setSpacing(12);
    layout->addLayout(fields_);
    error_ = new QLabel(this);
    error_->setObjectName("formError");
    error_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    FormStyle::makeWrapping(error_);
    Style::makeSelectable(error_);
    layout->addWidget(error_);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    cancel_ = new QPushButton(this);
    cancel_->setObjectName("cancelButton");
    cancel_->setAutoDefault(false);
    buttons->addWidget(cancel_);
    submit_ = new QPushButton(this);
    submit_->setObjectName("submitButton");
    submit_->setDefault(true);
    FormStyle::makeProminent(submit_);
    buttons->addWidget(submit_);
    layout->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(submit_, &QPushButton::clicked, this, [this] { submit(); });
}

void DatabaseManagerForm::reject() {
    if (draft_.model().busy())
        return;
    cancel();
}

void DatabaseManagerForm::renderFrame(const std::string& title, const std::string& submit,
                                      bool submitEnabled) {
    setWindowTitle(toQt(title));
    title_->setText(toQt(title));
    error_->setVisible(draft_.error().has_value());
    error_->setText(toQt(draft_.error().value_or("")));
    cancel_->setText(Style::buttonText(L10n::text("Cancel")));
    cancel_->setEnabled(!draft_.model().busy());
    submit_->setText(Style::buttonText(submit));
    submit_->setEnabled(submitEnabled);
    Style::fitSheet(this, formWidth);
}

void DatabaseManagerForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    render();
}

} // namespace vessora
