#include "Vessora/Sheets/DatabaseSheet.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Database/DatabaseCredentials.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

namespace {

QLabel* valueLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SheetStyle::makeCallout(label);
    SheetStyle::makeMonospaced(label, false);
    Style::makeSelectable(label);
    return label;
}

QLabel* rowLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    SheetStyle::makeCallout(label);
    FormStyle::makeSecondary(label);
    return label;
}

} // namespace

DatabaseSheet::DatabaseSheet(AppModel& model, AppPreferences& preferences,
                             const StackProfile& profile, QWidget* parent)
    : QDialog(parent), model_(model), draft_(new DatabaseDraft(model, profile, this)) {
    setObjectName("databaseSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    FormStyle::makeSmall(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    const DatabaseSheetStyle::Header header =
        DatabaseSheetStyle::addHeader(this, layout, "dialog-password", profile.name);
    title_ = header.title;
    environment_ = header.environment;

    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    hostLabel_ = rowLabel(this);
    host_ = valueLabel(
        toQt(std::string(DatabaseCredentials::host) + ":" + std::to_string(profile.databasePort)),
        this);
    host_->setObjectName("hostValue");
    userLabel_ = rowLabel(this);
    QLabel* user = valueLabel(toQt(std::string(DatabaseCredentials::user)), this);
    user->setObjectName("userValue");
    databaseLabel_ = rowLabel(this);
    QLabel* database = valueLabel(toQt(profile.databaseName), this);
    database->setObjectName("databaseValue");
    passwordLabel_ = rowLabel(this);
    password_ = new QLineEdit(this);
    password_->setObjectName("passwordField");
    password_->setEchoMode(QLineEdit::Password);
    confirmLabel_ = rowLabel(this);
    confirmLabel_->setObjectName("confirmLabel");
    confirmation_ = new QLineEdit(this);
    confirmation_->setObjectName("confirmationField");
    confirmation_->setEchoMode(QLineEdit::Password);
    const std::pair<QLabel*, QWidget*> rows[] = {{hostLabel_, host_},
                                                 {userLabel_, user},
                                                 {databaseLabel_, database},
                                                 {passwordLabel_, password_},
                                                 {confirmLabel_, confirmation_}};
    int row = 0;
    for (const auto& [label, value] : rows) {
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(value, row, 1);
        ++row;
    }
    layout->addLayout(grid);

    note_ = new QLabel(this);
    runningNote_ = new QLabel(this);
    runningNote_->setObjectName("runningNote");
    for (QLabel* label : {note_, runningNote_}) {
        FormStyle::makeCaption(label);
        FormStyle::makeSecondary(label);
        FormStyle::makeWrapping(label);
        layout->addWidget(label);
    }
    error_ = new QLabel(this);
    error_->setObjectName("errorLine");
    error_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    FormStyle::makeWrapping(error_);
    Style::makeSelectable(error_);
    layout->addWidget(error_);
    saved_ = new IconLabel(this);
    saved_->setObjectName("savedLabel");
    saved_->setIcon("emblem-ok");
    FormStyle::makeCaption(saved_);
    SheetStyle::setTextColor(saved_, SheetStyle::green());
    layout->addWidget(saved_);

    auto* buttons = new QHBoxLayout();
    copy_ = new QPushButton(this);
    copy_->setObjectName("copyButton");
    copy_->setAutoDefault(false);
    buttons->addWidget(copy_);
    buttons->addStretch(1);
    done_ = new QPushButton(this);
    done_->setObjectName("doneButton");
    done_->setAutoDefault(false);
    buttons->addWidget(done_);
    save_ = new QPushButton(this);
    save_->setObjectName("saveButton");
    save_->setDefault(true);
    FormStyle::makeProminent(save_);
    buttons->addWidget(save_);
    layout->addLayout(buttons);

    connect(password_, &QLineEdit::textEdited, this,
            [this](const QString& text) { draft_->setPassword(text.toStdString()); });
    connect(confirmation_, &QLineEdit::textEdited, this,
            [this](const QString& text) { draft_->setConfirmation(text.toStdString()); });
    connect(copy_, &QPushButton::clicked, this, &DatabaseSheet::copyPassword);
    connect(done_, &QPushButton::clicked, this, &DatabaseSheet::reject);
    connect(save_, &QPushButton::clicked, this, [this] { draft_->save(); });
    connect(draft_, &DatabaseDraft::changed, this, &DatabaseSheet::render);
    connect(&model_, &AppModel::changed, this, &DatabaseSheet::render);
    connect(&preferences, &AppPreferences::changed, this, &DatabaseSheet::render);

    render();
    draft_->load();
}

void DatabaseSheet::render() {
    const DatabaseDraft& draft = *draft_;
    setWindowTitle(toQt(L10n::text("DB credentials")));
    title_->setText(toQt(L10n::text("DB credentials")));
    hostLabel_->setText(toQt(L10n::text("Host")));
    userLabel_->setText(toQt(L10n::text("User")));
    databaseLabel_->setText(toQt(L10n::text("Database")));
    passwordLabel_->setText(toQt(L10n::text("Password")));
    confirmLabel_->setText(toQt(L10n::text("Confirm")));
    password_->setPlaceholderText(toQt(L10n::text("Database password")));
    confirmation_->setPlaceholderText(toQt(L10n::text("Confirm password")));
    Style::syncText(password_, draft.password());
    Style::syncText(confirmation_, draft.confirmation());
    password_->setEnabled(draft.canEditPassword());
    confirmation_->setEnabled(draft.canEditConfirmation());
    confirmLabel_->setVisible(draft.edited());
    confirmation_->setVisible(draft.edited());

    note_->setText(
        toQt(L10n::text("This is the application account for the selected database. phpMyAdmin "
                        "manages its own login. Root uses local socket authentication.")));
    runningNote_->setText(
        toQt(draft.running() ? L10n::text("Stop the environment to change its database password.")
                             : L10n::text("A changed password is applied at the next start. Update "
                                          "your project’s database settings to match.")));
    error_->setVisible(draft.error().has_value());
    error_->setText(toQt(draft.error().value_or("")));
    saved_->setVisible(draft.showsSavedLabel());
    saved_->setText(toQt(L10n::text("Password saved for the next start.")));

    copy_->setText(Style::buttonText(L10n::text("Copy password")));
    copy_->setEnabled(draft.canCopyPassword());
    done_->setText(Style::buttonText(L10n::text("Done")));
    done_->setEnabled(draft.canDismiss());
    save_->setText(Style::buttonText(L10n::text("Save password")));
    save_->setEnabled(draft.canSave());
    Style::fitSheet(this, sheetWidth);
}

void DatabaseSheet::reject() {
    if (!draft_->canDismiss())
        return;
    QDialog::reject();
}

void DatabaseSheet::copyPassword() {
    if (!draft_->canCopyPassword())
        return;
    // Marked as a secret, so clipboard managers that honour the hint keep
    // no history of it.
    auto* secret = new QMimeData();
    secret->setText(toQt(draft_->password()));
    secret->setData("x-kde-passwordManagerHint", "secret");
    QApplication::clipboard()->setMimeData(secret, QClipboard::Clipboard);
}

void DatabaseSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    render();
}

} // namespace vessora
