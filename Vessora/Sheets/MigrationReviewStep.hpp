// The import wizard's last step: a read-only summary of the import the
// draft describes, and what the import keeps and what it does on failure.
#pragma once

#include <QWidget>

class QLabel;

namespace vessora {

class MigrationDraft;
class SummaryGrid;

class MigrationReviewStep : public QWidget {
    Q_OBJECT

public:
    MigrationReviewStep(MigrationDraft& draft, QWidget* parent);

    void render();

private:
    MigrationDraft& draft_;
    SummaryGrid* summary_;
    QLabel* keptNote_;
    QLabel* failureNote_;
};

} // namespace vessora
