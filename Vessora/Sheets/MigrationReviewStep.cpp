#include "Vessora/Sheets/MigrationReviewStep.hpp"

#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "Vessora/Sheets/SummaryGrid.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace vessora {

MigrationReviewStep::MigrationReviewStep(MigrationDraft& draft, QWidget* parent)
    : QWidget(parent), draft_(draft) {
    QVBoxLayout* column = MigrationSheetStyle::column(this);
    summary_ = new SummaryGrid(this);
    summary_->setObjectName("reviewSummary");
    column->addWidget(summary_);
    keptNote_ = MigrationSheetStyle::caption(this, "reviewKeptNote");
    column->addWidget(keptNote_);
    failureNote_ = MigrationSheetStyle::caption(this, "reviewFailureNote");
    column->addWidget(failureNote_);
}

void MigrationReviewStep::render() {
    summary_->setRows(draft_.reviewRows());
    keptNote_->setText(toQt(L10n::text("A new environment is created. The source project, SQL "
                                       "export and existing environments are kept. Project "
                                       "configuration files are not rewritten.")));
    failureNote_->setText(
        toQt(L10n::text("If SQL import fails, the partial destination is stopped and kept with a "
                        "report. You can remove it and retry with a corrected export.")));
}

} // namespace vessora
