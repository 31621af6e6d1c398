// DatabaseSheet ("DB credentials"): how a project connects to one
// environment's MariaDB as the application account - host and port, user,
// database and password - with the password to copy, and a new password
// stored for the environment's next start while it is stopped. A
// window-modal dialog that deletes itself when closed; it cannot be closed
// while a save runs. State and engine calls live in its DatabaseDraft.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Sheets/DatabaseDraft.hpp"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vessora {

class DatabaseElidedLabel;
class IconLabel;

class DatabaseSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 470;

    DatabaseSheet(AppModel& model, AppPreferences& preferences, const StackProfile& profile,
                  QWidget* parent);

    DatabaseDraft& draft() const { return *draft_; }

    void render();
    void reject() override;

protected:
    // Sizes again once the children count as visible.
    void showEvent(QShowEvent* event) override;

private:
    void copyPassword();

    AppModel& model_;
    DatabaseDraft* draft_;

    IconLabel* title_;
    DatabaseElidedLabel* environment_;
    QLabel* hostLabel_;
    QLabel* host_;
    QLabel* userLabel_;
    QLabel* databaseLabel_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    QLabel* confirmLabel_;
    QLineEdit* confirmation_;
    QLabel* note_;
    QLabel* runningNote_;
    QLabel* error_;
    IconLabel* saved_;
    QPushButton* copy_;
    QPushButton* done_;
    QPushButton* save_;
};

} // namespace vessora
