// The password and its confirmation, as the new-user and change-password
// forms ask for them: two hidden fields bound to the draft, disabled while
// an action runs. Whether the pair is acceptable is the draft's
// validSecret().
#pragma once

#include "Vessora/Sheets/DatabaseManagerDraft.hpp"

#include <QWidget>

class QLineEdit;

namespace vessora {

class DatabaseSecretFields : public QWidget {
    Q_OBJECT

public:
    DatabaseSecretFields(DatabaseManagerDraft& draft, QWidget* parent);

    void render();

private:
    DatabaseManagerDraft& draft_;
    QLineEdit* password_;
    QLineEdit* confirmation_;
};

} // namespace vessora
