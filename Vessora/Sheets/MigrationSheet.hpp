// The project import wizard. For now a placeholder with its final
// constructor that only closes; closing it sets showMigration back to false.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;

class MigrationSheet : public QDialog {
    Q_OBJECT

public:
    MigrationSheet(AppModel& model, AppPreferences& preferences, QWidget* parent);

    void render();

private:
    AppModel& model_;
    QLabel* title_;
    QPushButton* close_;
};

} // namespace vessora
