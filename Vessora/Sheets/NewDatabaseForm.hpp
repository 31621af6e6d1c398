// The new-database form of the database management sheet: a name that must
// pass the database-name rule and differ, ignoring case, from every listed
// database, and whether the application account gets full access to it.
#pragma once

#include "Vessora/Sheets/DatabaseManagerForm.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vessora {

class NewDatabaseForm : public DatabaseManagerForm {
    Q_OBJECT

public:
    NewDatabaseForm(DatabaseManagerDraft& draft, QWidget* parent);

    void render() override;

protected:
    void cancel() override;
    void submit() override;

private:
    QLineEdit* name_;
    QCheckBox* grant_;
    QLabel* note_;
};

} // namespace vessora
