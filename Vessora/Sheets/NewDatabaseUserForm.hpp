// The new-user form of the database management sheet: an account at
// 127.0.0.1 with a password and its access level on one manageable
// database. The form checks only that the fields are filled and the
// password pair is acceptable; the engine refuses bad names and missing
// databases, and its sentence shows in the error line.
#pragma once

#include "Vessora/Sheets/DatabaseManagerForm.hpp"

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;

namespace vessora {

class DatabaseSecretFields;

class NewDatabaseUserForm : public DatabaseManagerForm {
    Q_OBJECT

public:
    NewDatabaseUserForm(DatabaseManagerDraft& draft, QWidget* parent);

    void render() override;

protected:
    void cancel() override;
    void submit() override;

private:
    QLineEdit* name_;
    QLabel* note_;
    DatabaseSecretFields* secrets_;
    QLabel* databaseLabel_;
    QComboBox* database_;
    QLabel* accessLabel_;
    QComboBox* access_;
    std::vector<std::string> databaseOptions_;
};

} // namespace vessora
