// DatabaseManagerSheet: administration of one running environment's
// MariaDB - its databases, its accounts and their access levels, new
// databases and accounts, passwords and deleting accounts - and the door to
// the application account's credentials and to phpMyAdmin. While the
// environment is stopped it offers to start it.
//
// A window-modal dialog that deletes itself when closed. It cannot be
// closed (Done, Escape, the window's close button) while an action runs or
// while access changes are pending. It only renders its
// DatabaseManagerDraft, which holds the state and runs every action; the
// forms, the delete confirmation and the credentials sheet open on top of
// it while their flags in the draft are set.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Sheets/DatabaseManagerDraft.hpp"

#include <QDialog>
#include <QPointer>

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QTabBar;

namespace vessora {

class DatabaseElidedLabel;
class DatabaseListTab;
class DatabaseManagerForm;
class DatabaseSheet;
class DatabaseUsersTab;
class IconLabel;

class DatabaseManagerSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 650;

    // Starts loading the inventory at once when the environment runs.
    DatabaseManagerSheet(AppModel& model, AppPreferences& preferences, const StackProfile& profile,
                         QWidget* parent);

    DatabaseManagerDraft& draft() const { return *draft_; }

    void render();
    void reject() override;

protected:
    // Sizes again once the children count as visible.
    void showEvent(QShowEvent* event) override;

private:
    void renderChildren();
    // Opens or closes a form to match its flag.
    template <typename Form>
    void presentForm(QPointer<DatabaseManagerForm>& form, bool shown);
    void presentDeleteConfirmation();

    AppModel& model_;
    AppPreferences& preferences_;
    DatabaseManagerDraft* draft_;

    IconLabel* title_;
    DatabaseElidedLabel* environment_;
    QLabel* connection_;
    QTabBar* tabs_;
    DatabaseListTab* databasesTab_;
    DatabaseUsersTab* usersTab_;
    QWidget* loadingRow_;
    QLabel* loadingLabel_;
    QLabel* stoppedMessage_;
    QPushButton* start_;
    QLabel* error_;
    QLabel* notice_;
    QPushButton* credentials_;
    QPushButton* phpMyAdmin_;
    QPushButton* refresh_;
    QPushButton* done_;

    QPointer<DatabaseManagerForm> databaseForm_;
    QPointer<DatabaseManagerForm> userForm_;
    QPointer<DatabaseManagerForm> passwordForm_;
    QPointer<QMessageBox> deleteConfirmation_;
    QPointer<DatabaseSheet> credentialsSheet_;
    bool rendering_ = false;
};

} // namespace vessora
