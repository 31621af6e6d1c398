// What the import wizard shows once the import returned: whether it
// completed, the report's message, the new environment's connection data,
// and the report file, the site (after success) or the removal of the
// incomplete environment (after a failure, confirmed by the sheet).
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class IconLabel;
class MigrationDraft;
class SelectableText;
class SummaryGrid;

class MigrationResultView : public QWidget {
    Q_OBJECT

public:
    MigrationResultView(AppModel& model, MigrationDraft& draft, QWidget* parent);

    // Shows the draft's result; nothing while there is none.
    void render();

private:
    void openReport();
    void openSite();

    AppModel& model_;
    MigrationDraft& draft_;
    IconLabel* status_;
    SelectableText* message_;
    SummaryGrid* summary_;
    QLabel* credentialsNote_;
    QPushButton* report_;
    QPushButton* remove_;
    QPushButton* openSite_;
};

} // namespace vessora
