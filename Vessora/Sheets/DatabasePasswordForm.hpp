// The change-password form of the database management sheet: a new
// password for the selected account, applied on the server at once.
#pragma once

#include "Vessora/Sheets/DatabaseManagerForm.hpp"

class QLabel;

namespace vessora {

class DatabaseSecretFields;

class DatabasePasswordForm : public DatabaseManagerForm {
    Q_OBJECT

public:
    DatabasePasswordForm(DatabaseManagerDraft& draft, QWidget* parent);

    void render() override;

protected:
    void cancel() override;
    void submit() override;

private:
    QLabel* account_;
    DatabaseSecretFields* secrets_;
    QLabel* note_;
};

} // namespace vessora
