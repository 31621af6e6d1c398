#include "Vessora/Sheets/DatabaseUsersTab.hpp"

#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Controls/WheelGuard.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/DatabaseSheetText.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

namespace Style = DatabaseSheetStyle;

namespace {

// An account row is at least this high, more when the desktop's fonts need it.
constexpr int accountRowHeight = 41;
// The list shows whole rows only: at least three, and at most five before
// it scrolls, one row at a time.
constexpr std::size_t fewestAccountRows = 3;
constexpr std::size_t mostAccountRows = 5;
constexpr int accessRowHeight = 24;
constexpr int accessRowSpacing = 8;

} // namespace

int DatabaseUsersTab::accountListHeight(std::size_t count, int rowHeight, int frame) {
    const std::size_t rows = std::clamp(count, fewestAccountRows, mostAccountRows);
    return static_cast<int>(rows) * rowHeight + 2 * frame;
}

int DatabaseUsersTab::accessPickerWidthFor(AppLanguage language) const {
    // Wide enough for the longest level name of the language (French and
    // German need more than the usual width).
    int widest = 0;
    const QFontMetrics metrics(font());
    for (const DatabaseAccess level : DatabaseAccessLevels::allCases())
        widest = std::max(
            widest, metrics.horizontalAdvance(toQt(L10n::text(rawValue(level), {}, language))));
    QStyleOptionComboBox option;
    option.initFrom(this);
    const int needed =
        style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(widest, 0), this).width();
    return std::max(accessPickerWidth, needed + 4);
}

int DatabaseUsersTab::accessListHeight(std::size_t count) {
    return std::min(std::max(32 * static_cast<int>(std::min<std::size_t>(count, 100)), 32), 132);
}

DatabaseUsersTab::DatabaseUsersTab(DatabaseManagerDraft& draft, QWidget* parent)
    : QWidget(parent), draft_(draft) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    // Accounts.
    auto* left = new QVBoxLayout();
    left->setSpacing(8);
    accounts_ = new QListWidget(this);
    accounts_->setObjectName("accountList");
    accounts_->setFixedWidth(accountListWidth);
    accounts_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // By whole rows, so scrolling never leaves half a row at an edge.
    accounts_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    accounts_->setSelectionMode(QAbstractItemView::SingleSelection);
    left->addWidget(accounts_);
    newUser_ = new QPushButton(Icons::symbolic("list-add", palette().color(QPalette::ButtonText)),
                               {}, this);
    newUser_->setObjectName("newUserButton");
    newUser_->setAutoDefault(false);
    left->addWidget(newUser_, 0, Qt::AlignLeft);
    left->addStretch(1);
    layout->addLayout(left);

    // The selected account.
    detail_ = new QWidget(this);
    detail_->setObjectName("accountDetail");
    auto* detail = new QVBoxLayout(detail_);
    detail->setContentsMargins(0, 0, 0, 0);
    detail->setSpacing(9);
    accountID_ = new DatabaseElidedLabel(detail_, Qt::ElideRight);
    accountID_->setObjectName("accountID");
    SheetStyle::makeCallout(accountID_);
    Style::makeMedium(accountID_);
    Style::makeSelectable(accountID_);
    detail->addWidget(accountID_);

    protectedBox_ = new QWidget(detail_);
    auto* protectedLayout = new QVBoxLayout(protectedBox_);
    protectedLayout->setContentsMargins(0, 0, 0, 0);
    protectedLayout->setSpacing(9);
    protectedLabel_ = new IconLabel(protectedBox_);
    protectedLabel_->setObjectName("protectedLabel");
    protectedLabel_->setIcon("changes-prevent");
    FormStyle::makeCaption(protectedLabel_);
    protectedLayout->addWidget(protectedLabel_);
    protectedNote_ = new QLabel(protectedBox_);
    protectedNote_->setObjectName("protectedNote");
    FormStyle::makeCaption(protectedNote_);
    FormStyle::makeSecondary(protectedNote_);
    FormStyle::makeWrapping(protectedNote_);
    protectedLayout->addWidget(protectedNote_);
    detail->addWidget(protectedBox_);

    editableBox_ = new QWidget(detail_);
    auto* editable = new QVBoxLayout(editableBox_);
    editable->setContentsMargins(0, 0, 0, 0);
    editable->setSpacing(9);
    accessList_ = new QScrollArea(editableBox_);
    accessList_->setObjectName("accessList");
    accessList_->setWidgetResizable(true);
    accessList_->setFrameShape(QFrame::NoFrame);
    accessList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    accessList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* rows = new QWidget(accessList_);
    accessLayout_ = new QVBoxLayout(rows);
    accessLayout_->setContentsMargins(0, 0, 4, 0);
    accessLayout_->setSpacing(accessRowSpacing);
    accessLayout_->addStretch(1);
    accessList_->setWidget(rows);
    editable->addWidget(accessList_);
    note_ = new QLabel(editableBox_);
    note_->setObjectName("accessNote");
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);
    editable->addWidget(note_);
    auto* actions = new QHBoxLayout();
    actions->setSpacing(8);
    saveAccess_ = new QPushButton(editableBox_);
    saveAccess_->setObjectName("saveAccessButton");
    FormStyle::makeProminent(saveAccess_);
    // Return does not save: only the button does.
    saveAccess_->setDefault(false);
    discard_ = new QPushButton(editableBox_);
    discard_->setObjectName("discardButton");
    changePassword_ = new QPushButton(editableBox_);
    changePassword_->setObjectName("changePasswordButton");
    deleteUser_ =
        new QPushButton(Icons::symbolic("user-trash", SheetStyle::destructive()), {}, editableBox_);
    deleteUser_->setObjectName("deleteUserButton");
    for (QPushButton* button : {saveAccess_, discard_, changePassword_, deleteUser_}) {
        button->setAutoDefault(false);
        actions->addWidget(button);
        if (button == changePassword_)
            actions->addStretch(1);
    }
    editable->addLayout(actions);
    detail->addWidget(editableBox_);
    detail->addStretch(1);
    layout->addWidget(detail_, 1);

    connect(accounts_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(accountRows_.size()))
            draft_.setSelectedUserID(accountRows_[static_cast<std::size_t>(row)].account.id());
    });
    connect(newUser_, &QPushButton::clicked, this, [this] { draft_.openNewUser(); });
    connect(saveAccess_, &QPushButton::clicked, this, [this] {
        if (const std::optional<DatabaseAccount> account = draft_.user())
            draft_.saveAccess(*account);
    });
    connect(discard_, &QPushButton::clicked, this, [this] { draft_.resetAccess(); });
    connect(changePassword_, &QPushButton::clicked, this, [this] { draft_.openChangePassword(); });
    connect(deleteUser_, &QPushButton::clicked, this, [this] { draft_.requestDeleteUser(); });
}

void DatabaseUsersTab::rebuildAccounts(const std::vector<DatabaseAccount>& users) {
    const QSignalBlocker blocker(accounts_);
    accounts_->clear();
    accountRows_.clear();
    std::vector<QWidget*> rows;
    for (const DatabaseAccount& account : users) {
        auto* row = new QWidget(accounts_);
        row->setObjectName("accountRow");
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(6, 2, 6, 2);
        layout->setSpacing(5);
        auto* lines = new QVBoxLayout();
        lines->setSpacing(2);
        auto* name = new DatabaseElidedLabel(row, Qt::ElideRight);
        name->setObjectName("accountName");
        SheetStyle::makeCallout(name);
        // A text to measure the row by; render() sets it in the language.
        name->setFullText(toQt(account.name));
        lines->addWidget(name);
        auto* host = new DatabaseElidedLabel(row, Qt::ElideRight);
        host->setObjectName("accountHost");
        host->setFullText(toQt(account.host));
        FormStyle::makeCaption(host);
        FormStyle::makeSecondary(host);
        lines->addWidget(host);
        layout->addLayout(lines, 1);
        if (!account.canEdit) {
            QLabel* lock = Style::secondarySymbol("changes-prevent", 12, row);
            lock->setObjectName("accountLock");
            layout->addWidget(lock);
        }
        rows.push_back(row);
        accountRows_.push_back({name, account});
    }

    // Every row as high as the highest needs, and as wide as the list's
    // inside, less the scroll bar when the rows need one, so the lock at a
    // row's end stays in view.
    accountRowHeight_ = accountRowHeight;
    for (QWidget* row : rows)
        accountRowHeight_ = std::max(accountRowHeight_, row->sizeHint().height());
    const bool scrolls = users.size() > mostAccountRows;
    const int rowWidth =
        accountListWidth - 2 * accounts_->frameWidth() -
        (scrolls ? accounts_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, accounts_)
                 : 0);
    for (std::size_t index = 0; index < rows.size(); ++index) {
        auto* item = new QListWidgetItem(accounts_);
        item->setSizeHint(QSize(rowWidth, accountRowHeight_));
        item->setToolTip(toQt(users[index].id()));
        accounts_->setItemWidget(item, rows[index]);
    }
}

void DatabaseUsersTab::rebuildAccess(const DatabaseAccount& account,
                                     const std::vector<ManagedDatabase>& databases) {
    for (const AccessRow& row : accessRows_)
        delete row.picker->parentWidget();
    accessRows_.clear();
    int at = 0;
    for (const ManagedDatabase& database : databases) {
        auto* row = new QWidget(accessList_->widget());
        row->setObjectName("accessRow");
        row->setFixedHeight(accessRowHeight);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* name = new DatabaseElidedLabel(row);
        name->setObjectName("accessDatabase");
        name->setFullText(toQt(database.name));
        layout->addWidget(name, 1);
        layout->addSpacing(5);
        auto* picker = new QComboBox(row);
        picker->setObjectName("accessPicker");
        picker->setProperty("database", toQt(database.name));
        picker->setAccessibleName(toQt(database.name));
        WheelGuard::guard(picker);
        std::vector<DatabaseAccess> levels = DatabaseAccessLevels::assignable();
        // An existing set the system does not describe can be kept as it is.
        if (account.access(database.name) == DatabaseAccess::custom)
            levels.push_back(DatabaseAccess::custom);
        for (const DatabaseAccess level : levels)
            picker->addItem({}, static_cast<int>(level));
        layout->addWidget(picker);
        connect(picker, &QComboBox::activated, this, [this, picker, name = database.name](int) {
            draft_.setAccess(name, static_cast<DatabaseAccess>(picker->currentData().toInt()));
        });
        accessLayout_->insertWidget(at++, row);
        accessRows_.push_back({picker, database});
    }
}

void DatabaseUsersTab::render() {
    renderAccounts();
    renderDetail();
}

void DatabaseUsersTab::renderAccounts() {
    const std::vector<DatabaseAccount> users =
        draft_.snapshot() ? draft_.snapshot()->users : std::vector<DatabaseAccount>();
    if (shownAccounts_ != users) {
        rebuildAccounts(users);
        shownAccounts_ = users;
    }
    accounts_->setFixedHeight(
        accountListHeight(users.size(), accountRowHeight_, accounts_->frameWidth()));
    for (const AccountRow& row : accountRows_)
        row.name->setFullText(row.account.name.empty() ? toQt(L10n::text("Anonymous"))
                                                       : toQt(row.account.name));
    int selected = -1;
    if (draft_.selectedUserID())
        for (std::size_t index = 0; index < accountRows_.size(); ++index)
            if (DatabaseSheetText::same(accountRows_[index].account.id(),
                                        *draft_.selectedUserID())) {
                selected = static_cast<int>(index);
                break;
            }
    {
        const QSignalBlocker blocker(accounts_);
        if (accounts_->currentRow() != selected)
            accounts_->setCurrentRow(selected);
        if (selected < 0)
            accounts_->clearSelection();
    }
    const bool busy = draft_.model().busy();
    const bool dirty = draft_.dirty();
    accounts_->setEnabled(!busy && !dirty);
    newUser_->setText(Style::buttonText(L10n::text("New user…")));
    newUser_->setEnabled(!busy && !dirty);
}

void DatabaseUsersTab::renderDetail() {
    const std::optional<DatabaseAccount> account = draft_.user();
    accountID_->setVisible(account.has_value());
    protectedBox_->setVisible(account && !account->canEdit);
    editableBox_->setVisible(account && account->canEdit);
    if (!account)
        return;
    accountID_->setFullText(toQt(account->id()));
    protectedLabel_->setText(toQt(L10n::text("Protected account")));
    protectedNote_->setText(
        toQt(L10n::text("System accounts, remote hosts and advanced grants are protected. "
                        "Use phpMyAdmin for advanced administration.")));
    if (!account->canEdit)
        return;

    const std::vector<ManagedDatabase> databases = draft_.manageableDatabases();
    if (!shownAccess_ || shownAccess_->first != *account || shownAccess_->second != databases) {
        rebuildAccess(*account, databases);
        shownAccess_ = std::make_pair(*account, databases);
    }
    accessList_->setFixedHeight(accessListHeight(databases.size()));
    const bool busy = draft_.model().busy();
    const int pickerWidth = accessPickerWidthFor(L10n::language());
    for (const AccessRow& row : accessRows_) {
        row.picker->setFixedWidth(pickerWidth);
        const QSignalBlocker blocker(row.picker);
        for (int index = 0; index < row.picker->count(); ++index)
            row.picker->setItemText(index, toQt(L10n::text(rawValue(static_cast<DatabaseAccess>(
                                               row.picker->itemData(index).toInt())))));
        const auto pending = draft_.access().find(row.database.name);
        const DatabaseAccess value =
            pending != draft_.access().end() ? pending->second : account->access(row.database.name);
        row.picker->setCurrentIndex(row.picker->findData(static_cast<int>(value)));
        row.picker->setEnabled(!busy && !(account->isApplication && row.database.isPrimary));
    }
    note_->setText(
        toQt(account->isApplication
                 ? L10n::text("Vessora manages the primary database. You can grant this account "
                              "access to additional databases.")
                 : L10n::text("Read & write changes data. Schema admin can also create, change or "
                              "remove database structures. Server administration and GRANT OPTION "
                              "are not included.")));

    const bool dirty = draft_.dirty();
    saveAccess_->setVisible(dirty);
    discard_->setVisible(dirty);
    changePassword_->setVisible(!dirty && account->canChangePassword());
    deleteUser_->setVisible(!dirty && account->canChangePassword());
    saveAccess_->setText(Style::buttonText(L10n::text("Save access")));
    discard_->setText(Style::buttonText(L10n::text("Discard")));
    changePassword_->setText(Style::buttonText(L10n::text("Change password…")));
    deleteUser_->setToolTip(toQt(L10n::text("Delete user")));
    deleteUser_->setAccessibleName(toQt(L10n::text("Delete user")));
    for (QPushButton* button : {saveAccess_, discard_, changePassword_, deleteUser_})
        button->setEnabled(!busy);
}

} // namespace vessora
