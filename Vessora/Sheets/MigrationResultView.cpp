#include "Vessora/Sheets/MigrationResultView.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "Vessora/Sheets/SummaryGrid.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

MigrationResultView::MigrationResultView(AppModel& model, MigrationDraft& draft, QWidget* parent)
    : QWidget(parent), model_(model), draft_(draft) {
    QVBoxLayout* column = MigrationSheetStyle::column(this);
    status_ = new IconLabel(this);
    status_->setObjectName("resultStatus");
    QFont font = status_->font();
    font.setWeight(QFont::DemiBold);
    status_->setFont(font);
    column->addWidget(status_);
    message_ = new SelectableText(this);
    message_->setObjectName("resultMessage");
    SheetStyle::makeCallout(message_);
    column->addWidget(message_);
    summary_ = new SummaryGrid(this);
    summary_->setObjectName("resultSummary");
    column->addWidget(summary_);
    credentialsNote_ = MigrationSheetStyle::caption(this, "credentialsNote");
    column->addWidget(credentialsNote_);

    auto* buttons = new QHBoxLayout;
    const QColor buttonText = palette().color(QPalette::ButtonText);
    report_ = MigrationSheetStyle::button(this, "importReportButton");
    report_->setIcon(Icons::symbolic("edit-find", buttonText));
    remove_ = MigrationSheetStyle::button(this, "removeImportedButton");
    SheetStyle::setTextColor(remove_, SheetStyle::destructive());
    openSite_ = MigrationSheetStyle::button(this, "openSiteButton");
    openSite_->setIcon(Icons::symbolic("web-browser", buttonText));
    buttons->addWidget(report_);
    buttons->addWidget(remove_);
    buttons->addWidget(openSite_);
    buttons->addStretch(1);
    column->addLayout(buttons);

    connect(report_, &QPushButton::clicked, this, &MigrationResultView::openReport);
    connect(openSite_, &QPushButton::clicked, this, &MigrationResultView::openSite);
    connect(remove_, &QPushButton::clicked, &draft_, [this] {
        if (!model_.busy())
            draft_.setConfirmCleanup(true);
    });
}

void MigrationResultView::render() {
    const auto& result = draft_.result();
    if (!result)
        return;
    const bool succeeded = result->report.succeeded;
    if (succeeded) {
        status_->setIcon("emblem-ok");
        status_->setText(toQt(L10n::text("Import complete")));
        SheetStyle::setTextColor(status_, SheetStyle::green());
    } else {
        status_->setIcon("dialog-warning");
        status_->setText(toQt(L10n::text("Migration incomplete")));
        SheetStyle::setTextColor(status_, FormStyle::warning());
    }
    message_->setText(toQt(result->report.message));
    summary_->setRows(MigrationDraft::resultRows(*result));
    credentialsNote_->setText(toQt(L10n::text(
        "Get the generated password from DB credentials. Update .env or wp-config.php yourself, "
        "then verify the application. Vessora checks the stack, not your application’s "
        "configuration.")));

    report_->setText(DatabaseSheetStyle::buttonText(L10n::text("Import report")));
    remove_->setVisible(!succeeded);
    remove_->setEnabled(!model_.busy());
    remove_->setText(DatabaseSheetStyle::buttonText(L10n::text("Remove imported environment…")));
    openSite_->setVisible(succeeded);
    openSite_->setText(DatabaseSheetStyle::buttonText(L10n::text("Open site")));
}

void MigrationResultView::openReport() {
    if (!draft_.result())
        return;
    DesktopOpening::openPath(
        this, StackPaths(model_.dataRoot(), draft_.result()->profile).migrationReport());
}

void MigrationResultView::openSite() {
    if (const auto& result = draft_.result())
        DesktopOpening::openURL(this, result->profile.siteURL());
}

} // namespace vessora
