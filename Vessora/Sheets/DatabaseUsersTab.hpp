// The Users & access tab of the database management sheet: the accounts of
// the loaded inventory on the left, the selected account's access level to
// every manageable database on the right, kept pending in the draft until
// "Save access" or "Discard". Protected accounts show no control that could
// change them. Renders from the draft only; the sheet calls render().
#pragma once

#include "Vessora/Sheets/DatabaseManagerDraft.hpp"
#include "VessoraCore/Foundation/AppLanguage.hpp"

#include <QWidget>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace vessora {

class DatabaseElidedLabel;
class IconLabel;

class DatabaseUsersTab : public QWidget {
    Q_OBJECT

public:
    static constexpr int accountListWidth = 170;
    static constexpr int accessPickerWidth = 155;
    // The account list's height for `count` accounts of `rowHeight` each
    // inside a frame `frame` wide: whole rows only, three to five of them.
    static int accountListHeight(std::size_t count, int rowHeight, int frame);
    // The access list's height for `count` databases: 32 each, 32 to 132.
    static int accessListHeight(std::size_t count);

    DatabaseUsersTab(DatabaseManagerDraft& draft, QWidget* parent);

    // The access pickers' width: 155, or what the longest level name of
    // the language needs.
    int accessPickerWidthFor(AppLanguage language) const;

    void render();

private:
    struct AccountRow {
        DatabaseElidedLabel* name;
        DatabaseAccount account;
    };
    struct AccessRow {
        QComboBox* picker;
        ManagedDatabase database;
    };
    void rebuildAccounts(const std::vector<DatabaseAccount>& users);
    void rebuildAccess(const DatabaseAccount& account,
                       const std::vector<ManagedDatabase>& databases);
    void renderAccounts();
    void renderDetail();

    DatabaseManagerDraft& draft_;

    QListWidget* accounts_;
    int accountRowHeight_ = 41;
    QPushButton* newUser_;
    std::vector<AccountRow> accountRows_;
    std::optional<std::vector<DatabaseAccount>> shownAccounts_;

    QWidget* detail_;
    DatabaseElidedLabel* accountID_;
    QWidget* protectedBox_;
    IconLabel* protectedLabel_;
    QLabel* protectedNote_;
    QWidget* editableBox_;
    QScrollArea* accessList_;
    QVBoxLayout* accessLayout_;
    std::vector<AccessRow> accessRows_;
    std::optional<std::pair<DatabaseAccount, std::vector<ManagedDatabase>>> shownAccess_;
    QLabel* note_;
    QPushButton* saveAccess_;
    QPushButton* discard_;
    QPushButton* changePassword_;
    QPushButton* deleteUser_;
};

} // namespace vessora
