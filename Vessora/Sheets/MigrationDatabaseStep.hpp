// The import wizard's second step, in titled rows: the new database's name
// (with the rule's sentence in orange while the name breaks it) and the
// optional SQL dump, chosen through FileChooser among .sql files and
// removable again. The dump's size and content are checked only when the
// import runs.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vessora {

class ElidedSelectableText;
class MigrationDraft;

class MigrationDatabaseStep : public QWidget {
    Q_OBJECT

public:
    MigrationDatabaseStep(MigrationDraft& draft, QWidget* parent);

    void render();

private:
    void chooseDump();

    MigrationDraft& draft_;
    QLabel* databaseTitle_;
    QLineEdit* databaseName_;
    QLabel* databaseNote_;
    QLabel* databaseMessage_;
    QLabel* sqlTitle_;
    QPushButton* choose_;
    QPushButton* remove_;
    ElidedSelectableText* dump_;
    QLabel* dumpNote_;
    QLabel* mappingNote_;
};

} // namespace vessora
