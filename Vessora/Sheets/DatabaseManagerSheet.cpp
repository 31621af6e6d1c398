#include "Vessora/Sheets/DatabaseManagerSheet.hpp"

#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/AlertWidth.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseListTab.hpp"
#include "Vessora/Sheets/DatabasePasswordForm.hpp"
#include "Vessora/Sheets/DatabaseSheet.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/DatabaseUsersTab.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/NewDatabaseForm.hpp"
#include "Vessora/Sheets/NewDatabaseUserForm.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

namespace vessora {

namespace Style = DatabaseSheetStyle;

DatabaseManagerSheet::DatabaseManagerSheet(AppModel& model, AppPreferences& preferences,
                                           const StackProfile& profile, QWidget* parent)
    : QDialog(parent), model_(model), preferences_(preferences),
      draft_(new DatabaseManagerDraft(model, profile, this)) {
    setObjectName("databaseManagerSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    FormStyle::makeSmall(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);

    const DatabaseSheetStyle::Header header =
        DatabaseSheetStyle::addHeader(this, layout, "drive-harddisk", profile.name);
    title_ = header.title;
    environment_ = header.environment;

    connection_ = new QLabel(
        toQt("127.0.0.1:" + std::to_string(profile.databasePort) + " \u00b7 " + profile.mariaDB),
        this);
    connection_->setObjectName("connectionLine");
    connection_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(connection_);
    SheetStyle::makeMonospaced(connection_, true);
    FormStyle::makeSecondary(connection_);
    Style::makeSelectable(connection_);
    layout->addWidget(connection_);

    tabs_ = new QTabBar(this);
    tabs_->setObjectName("tabPicker");
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);
    tabs_->addTab({});
    tabs_->addTab({});
    layout->addWidget(tabs_, 0, Qt::AlignLeft);
    databasesTab_ = new DatabaseListTab(*draft_, this);
    databasesTab_->setObjectName("databasesTab");
    layout->addWidget(databasesTab_);
    usersTab_ = new DatabaseUsersTab(*draft_, this);
    usersTab_->setObjectName("usersTab");
    layout->addWidget(usersTab_);
    loadingRow_ = new QWidget(this);
    loadingRow_->setObjectName("loadingRow");
    auto* loading = new QHBoxLayout(loadingRow_);
    loading->setContentsMargins(0, 18, 0, 18);
    loading->addStretch(1);
    auto* spinner = new QProgressBar(loadingRow_);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 8);
    loading->addWidget(spinner);
    loadingLabel_ = new QLabel(loadingRow_);
    loading->addWidget(loadingLabel_);
    loading->addStretch(1);
    layout->addWidget(loadingRow_);

    stoppedMessage_ = new QLabel(this);
    stoppedMessage_->setObjectName("stoppedMessage");
    stoppedMessage_->setContentsMargins(0, 12, 0, 12);
    SheetStyle::makeCallout(stoppedMessage_);
    FormStyle::makeWrapping(stoppedMessage_);
    layout->addWidget(stoppedMessage_);
    start_ = new QPushButton(Icons::symbolic("media-playback-start", Qt::white), {}, this);
    start_->setObjectName("startEnvironmentButton");
    start_->setAutoDefault(false);
    FormStyle::makeProminent(start_);
    start_->setDefault(false);
    layout->addWidget(start_, 0, Qt::AlignLeft);

    error_ = new QLabel(this);
    error_->setObjectName("errorLine");
    error_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    Style::makeSelectable(error_);
    FormStyle::makeWrapping(error_);
    layout->addWidget(error_);
    notice_ = new QLabel(this);
    notice_->setObjectName("noticeLine");
    notice_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(notice_);
    FormStyle::makeSecondary(notice_);
    FormStyle::makeWrapping(notice_);
    layout->addWidget(notice_);
    layout->addWidget(Style::divider(this));

    auto* footer = new QHBoxLayout();
    const QColor buttonText = palette().color(QPalette::ButtonText);
    credentials_ = new QPushButton(Icons::symbolic("dialog-password", buttonText), {}, this);
    credentials_->setObjectName("credentialsButton");
    footer->addWidget(credentials_);
    phpMyAdmin_ = new QPushButton(Icons::symbolic("go-jump", buttonText), {}, this);
    phpMyAdmin_->setObjectName("phpMyAdminButton");
    phpMyAdmin_->setText(QStringLiteral("phpMyAdmin"));
    footer->addWidget(phpMyAdmin_);
    footer->addStretch(1);
    refresh_ = new QPushButton(Icons::symbolic("view-refresh", buttonText), {}, this);
    refresh_->setObjectName("refreshButton");
    footer->addWidget(refresh_);
    done_ = new QPushButton(this);
    done_->setObjectName("doneButton");
    footer->addWidget(done_);
    for (QPushButton* button : {credentials_, phpMyAdmin_, refresh_, done_})
        button->setAutoDefault(false);
    layout->addLayout(footer);

    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) { draft_->setTab(index); });
    connect(start_, &QPushButton::clicked, this, [this] { draft_->startEnvironment(); });
    connect(credentials_, &QPushButton::clicked, this, [this] { draft_->openCredentials(); });
    connect(phpMyAdmin_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openURL(this, draft_->profile().phpMyAdminURL()); });
    connect(refresh_, &QPushButton::clicked, this, [this] { draft_->refresh(); });
    connect(done_, &QPushButton::clicked, this, &DatabaseManagerSheet::reject);
    connect(draft_, &DatabaseManagerDraft::changed, this, &DatabaseManagerSheet::render);
    connect(&model_, &AppModel::changed, this, &DatabaseManagerSheet::render);
    connect(&preferences_, &AppPreferences::changed, this, &DatabaseManagerSheet::render);

    render();
    draft_->startLoading();
}

void DatabaseManagerSheet::render() {
    // A child that closes while we draw (and so changes the draft) asks
    // for one more pass.
    if (rendering_) {
        QMetaObject::invokeMethod(this, &DatabaseManagerSheet::render, Qt::QueuedConnection);
        return;
    }
    rendering_ = true;
    const DatabaseManagerDraft& draft = *draft_;
    const bool busy = model_.busy();
    const bool dirty = draft.dirty();
    const bool running = draft.running();

    setWindowTitle(toQt(L10n::text("Databases")));
    title_->setText(toQt(L10n::text("Databases")));

    tabs_->setVisible(running);
    {
        const QSignalBlocker blocker(tabs_);
        tabs_->setTabText(0, Style::buttonText(L10n::text("Databases")));
        tabs_->setTabText(1, Style::buttonText(L10n::text("Users & access")));
        tabs_->setAccessibleName(toQt(L10n::text("Database management")));
        tabs_->setCurrentIndex(draft.tab() == DatabaseManagerDraft::databasesTab ? 0 : 1);
    }
    tabs_->setEnabled(!busy && !dirty);
    const bool loaded = running && draft.snapshot().has_value();
    const bool databases = draft.tab() == DatabaseManagerDraft::databasesTab;
    databasesTab_->setVisible(loaded && databases);
    usersTab_->setVisible(loaded && !databases);
    // Both tabs follow the inventory, so switching shows current rows at once.
    databasesTab_->render();
    usersTab_->render();
    loadingRow_->setVisible(running && !draft.snapshot() && busy);
    loadingLabel_->setText(toQt(L10n::text("Loading databases…")));

    stoppedMessage_->setVisible(!running);
    stoppedMessage_->setText(
        toQt(L10n::text("Start the environment to manage its active MariaDB instance.")));
    start_->setVisible(!running);
    start_->setText(Style::buttonText(L10n::text("Start environment")));
    start_->setEnabled(draft.canStartEnvironment());

    error_->setVisible(draft.error().has_value());
    error_->setText(toQt(draft.error().value_or("")));
    notice_->setVisible(draft.notice().has_value());
    // The notice is kept in English and looked up here, in today's language.
    notice_->setText(draft.notice() ? toQt(L10n::text(*draft.notice())) : QString());

    credentials_->setText(Style::buttonText(L10n::text("DB credentials")));
    credentials_->setEnabled(!busy);
    phpMyAdmin_->setVisible(draft.profile().phpMyAdminEnabled);
    phpMyAdmin_->setEnabled(running);
    refresh_->setVisible(running);
    refresh_->setText(Style::buttonText(L10n::text("Refresh")));
    refresh_->setEnabled(!busy && !dirty);
    done_->setText(Style::buttonText(L10n::text("Done")));
    done_->setEnabled(!busy && !dirty);

    Style::fitSheet(this, sheetWidth);
    renderChildren();
    rendering_ = false;
}

void DatabaseManagerSheet::renderChildren() {
    presentForm<NewDatabaseForm>(databaseForm_, draft_->showDatabase());
    presentForm<NewDatabaseUserForm>(userForm_, draft_->showUser());
    presentForm<DatabasePasswordForm>(passwordForm_, draft_->showPassword());
    presentDeleteConfirmation();
    if (draft_->showCredentials() && !credentialsSheet_) {
        credentialsSheet_ = new DatabaseSheet(model_, preferences_, draft_->profile(), this);
        connect(credentialsSheet_, &QDialog::finished, this,
                [this] { draft_->setShowCredentials(false); });
        credentialsSheet_->open();
    }
}

template <typename Form>
void DatabaseManagerSheet::presentForm(QPointer<DatabaseManagerForm>& form, bool shown) {
    if (shown && !form) {
        form = new Form(*draft_, this);
        form->render();
        form->open();
    } else if (!shown && form) {
        DatabaseManagerForm* closing = form;
        form.clear();
        closing->done(QDialog::Rejected);
        closing->deleteLater();
    } else if (form) {
        form->render();
    }
}

void DatabaseManagerSheet::presentDeleteConfirmation() {
    const std::optional<DatabaseAccount> account = draft_->user();
    const QString title = toQt(L10n::text("Delete database user?"));
    const QString message = toQt(L10n::text(
        "Remove %@ and all of its grants from this MariaDB instance? Databases and table data "
        "will be kept. Existing connections may need to be closed.",
        {account ? account->id() : std::string()}));
    if (!draft_->confirmDelete()) {
        if (deleteConfirmation_) {
            QMessageBox* closing = deleteConfirmation_;
            deleteConfirmation_.clear();
            closing->done(QMessageBox::Cancel);
            closing->deleteLater();
        }
        return;
    }
    if (!deleteConfirmation_) {
        auto* box = new QMessageBox(this);
        box->setObjectName("deleteUserConfirmation");
        box->setWindowModality(Qt::WindowModal);
        box->setIcon(QMessageBox::Warning);
        QPushButton* remove = box->addButton(QString(), QMessageBox::DestructiveRole);
        remove->setObjectName("confirmDeleteButton");
        QPushButton* cancel = box->addButton(QString(), QMessageBox::RejectRole);
        cancel->setObjectName("cancelDeleteButton");
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
        box->setTextFormat(Qt::PlainText);
        connect(box, &QMessageBox::buttonClicked, this, [this, remove](QAbstractButton* button) {
            if (button == remove)
                draft_->deleteUser();
            else
                draft_->setConfirmDelete(false);
        });
        // Closed any other way: the same as "Cancel".
        connect(box, &QDialog::finished, this, [this, box] {
            if (deleteConfirmation_ == box)
                draft_->setConfirmDelete(false);
        });
        deleteConfirmation_ = box;
        box->open();
    }
    deleteConfirmation_->setWindowTitle(title);
    deleteConfirmation_->setText(title);
    if (auto* remove = deleteConfirmation_->findChild<QPushButton*>("confirmDeleteButton"))
        remove->setText(Style::buttonText(L10n::text("Delete user")));
    if (auto* cancel = deleteConfirmation_->findChild<QPushButton*>("cancelDeleteButton"))
        cancel->setText(Style::buttonText(L10n::text("Cancel")));
    AlertWidth::setMessage(*deleteConfirmation_, message);
}

void DatabaseManagerSheet::reject() {
    if (!draft_->canDismiss())
        return;
    QDialog::reject();
}

void DatabaseManagerSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    render();
}

} // namespace vessora
