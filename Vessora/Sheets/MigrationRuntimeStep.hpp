// The import wizard's third step: web server with HTTPS, PHP, MariaDB with
// phpMyAdmin (the environment forms' PackagePicker), and, while some of the
// chosen packages are not installed, which ones and whether the import may
// install them, with a warning while any environment runs.
#pragma once

#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;

namespace vessora {

class AppModel;
class AppPreferences;
class MigrationDraft;
class PackagePicker;

class MigrationRuntimeStep : public QWidget {
    Q_OBJECT

public:
    MigrationRuntimeStep(AppModel& model, AppPreferences& preferences, MigrationDraft& draft,
                         QWidget* parent);

    void render();

private:
    AppModel& model_;
    MigrationDraft& draft_;
    std::vector<QLabel*> rowLabels_;
    PackagePicker* webserver_;
    QCheckBox* https_;
    PackagePicker* php_;
    PackagePicker* mariaDB_;
    QCheckBox* phpMyAdmin_;
    QLabel* note_;
    QLabel* missing_;
    QCheckBox* installMissing_;
    QLabel* runningWarning_;
};

} // namespace vessora
