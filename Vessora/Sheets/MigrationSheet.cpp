#include "Vessora/Sheets/MigrationSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/WorkerBridge.hpp"
#include "Vessora/Controls/AlertWidth.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/MigrationDatabaseStep.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationProjectStep.hpp"
#include "Vessora/Sheets/MigrationRelay.hpp"
#include "Vessora/Sheets/MigrationResultView.hpp"
#include "Vessora/Sheets/MigrationReviewStep.hpp"
#include "Vessora/Sheets/MigrationRuntimeStep.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "Vessora/Sheets/MigrationStepIndicator.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "Vessora/Windows/BusyIndicator.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace Style = MigrationSheetStyle;

MigrationSheet::MigrationSheet(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QDialog(parent), model_(model), draft_(new MigrationDraft(this)) {
    setObjectName("migrationSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    build(preferences);
    connectSignals(preferences);
    render();
}

const std::vector<std::string>& MigrationSheet::steps() {
    static const std::vector<std::string> titles{"Project", "Database", "Runtime", "Review"};
    return titles;
}

void MigrationSheet::build(AppPreferences& preferences) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    title_ = new IconLabel(this);
    title_->setObjectName("sheetTitle");
    title_->setIcon("document-save");
    title_->textLabel()->setWordWrap(false);
    FormStyle::makeHeading(title_);
    layout->addWidget(title_);

    indicator_ = new MigrationStepIndicator(steps(), this);
    indicator_->setObjectName("stepIndicator");
    layout->addWidget(indicator_);
    divider_ = DatabaseSheetStyle::divider(this);
    divider_->setObjectName("stepDivider");
    layout->addWidget(divider_);

    project_ = new MigrationProjectStep(model_, *draft_, this);
    project_->setObjectName("projectStep");
    database_ = new MigrationDatabaseStep(*draft_, this);
    database_->setObjectName("databaseStep");
    runtime_ = new MigrationRuntimeStep(model_, preferences, *draft_, this);
    runtime_->setObjectName("runtimeStep");
    review_ = new MigrationReviewStep(*draft_, this);
    review_->setObjectName("reviewStep");
    for (QWidget* step : std::initializer_list<QWidget*>{project_, database_, runtime_, review_})
        layout->addWidget(step);

    progress_ = new QWidget(this);
    progress_->setObjectName("progressRow");
    auto* progress = new QHBoxLayout(progress_);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(12);
    spinner_ = new BusyIndicator(progress_);
    phase_ = new QLabel(progress_);
    phase_->setObjectName("phaseText");
    phase_->setTextFormat(Qt::PlainText);
    SheetStyle::makeCallout(phase_);
    FormStyle::makeWrapping(phase_);
    progress->addWidget(spinner_, 0, Qt::AlignVCenter);
    progress->addWidget(phase_, 1, Qt::AlignVCenter);
    layout->addWidget(progress_);
    keepOpen_ = Style::caption(this, "keepOpenNote");
    layout->addWidget(keepOpen_);

    result_ = new MigrationResultView(model_, *draft_, this);
    result_->setObjectName("resultView");
    layout->addWidget(result_);

    error_ = new SelectableText(this);
    error_->setObjectName("errorLine");
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    layout->addWidget(error_);

    auto* footer = new QHBoxLayout;
    back_ = Style::button(this, "backButton");
    close_ = Style::button(this, "closeButton");
    primary_ = new QPushButton(this);
    primary_->setObjectName("primaryButton");
    FormStyle::makeSmall(primary_);
    FormStyle::makeProminent(primary_);
    footer->addWidget(back_);
    footer->addStretch(1);
    footer->addWidget(close_);
    footer->addWidget(primary_);
    layout->addLayout(footer);
}

void MigrationSheet::connectSignals(AppPreferences& preferences) {
    connect(back_, &QPushButton::clicked, this, &MigrationSheet::goBack);
    connect(close_, &QPushButton::clicked, this, &MigrationSheet::reject);
    connect(primary_, &QPushButton::clicked, this, &MigrationSheet::goOn);
    connect(this, &QDialog::finished, &model_,
            [model = &model_] { model->setShowMigration(false); });

    connect(draft_, &MigrationDraft::changed, this, &MigrationSheet::render);
    // Profiles, packages, statuses and busy all change what may continue.
    connect(&model_, &AppModel::changed, this, &MigrationSheet::render);
    connect(&preferences, &AppPreferences::changed, this, &MigrationSheet::render);
    connect(&model_, &AppModel::sheetsChanged, this, [this] {
        if (!model_.showMigration() && isVisible())
            reject();
    });
}

bool MigrationSheet::canContinue() const {
    return draft_->canContinue(
        {model_.profiles(), model_.installed(), model_.packageStatusKnown(), model_.anyRunning()});
}

void MigrationSheet::render() {
    // A child that closes while we draw (and so changes the draft) asks
    // for one more pass.
    if (rendering_) {
        QMetaObject::invokeMethod(this, &MigrationSheet::render, Qt::QueuedConnection);
        return;
    }
    rendering_ = true;
    const MigrationDraft& draft = *draft_;
    const MigrationDraft::State state = draft.state();
    const bool editing = state == MigrationDraft::State::editing;
    const bool importing = state == MigrationDraft::State::importing;
    const bool finished = state == MigrationDraft::State::finished;
    const bool busy = model_.busy();
    const int step = draft.step();

    setWindowTitle(toQt(L10n::text("Import project")));
    title_->setText(toQt(L10n::text("Import project")));
    indicator_->setVisible(editing);
    divider_->setVisible(editing);
    indicator_->render(step);

    project_->setVisible(editing && step == MigrationDraft::projectStep);
    database_->setVisible(editing && step == MigrationDraft::databaseStep);
    runtime_->setVisible(editing && step == MigrationDraft::runtimeStep);
    review_->setVisible(editing && step >= MigrationDraft::reviewStep);
    if (!project_->isHidden())
        project_->render();
    if (!database_->isHidden())
        database_->render();
    if (!runtime_->isHidden())
        runtime_->render();
    if (!review_->isHidden())
        review_->render();

    progress_->setVisible(importing);
    phase_->setText(toQt(displayText(draft.phase())));
    keepOpen_->setVisible(importing);
    keepOpen_->setText(toQt(L10n::text(
        "Keep Vessora open while the import runs. Only the new environment is changed.")));
    result_->setVisible(finished);
    result_->render();

    // A finished sentence, shown as it came.
    error_->setVisible(draft.error().has_value());
    error_->setText(toQt(draft.error().value_or("")));

    back_->setVisible(editing && step >= 1);
    back_->setText(DatabaseSheetStyle::buttonText(L10n::text("Back")));
    close_->setText(
        DatabaseSheetStyle::buttonText(finished ? L10n::text("Done") : L10n::text("Cancel")));
    close_->setEnabled(!draft.importing() && !busy);
    primary_->setVisible(editing);
    primary_->setText(DatabaseSheetStyle::buttonText(
        step >= MigrationDraft::reviewStep ? L10n::text("Import project") : L10n::text("Next")));
    primary_->setEnabled(canContinue() && !busy);

    renderCleanup();
    DatabaseSheetStyle::fitSheet(this, sheetWidth);
    // Place what just appeared now, not on the next pass of the event loop.
    layout()->activate();
    rendering_ = false;
}

void MigrationSheet::goBack() {
    if (draft_->state() != MigrationDraft::State::editing || draft_->step() < 1)
        return;
    draft_->setStep(draft_->step() - 1);
    draft_->setError(std::nullopt);
}

void MigrationSheet::goOn() {
    if (draft_->state() != MigrationDraft::State::editing || !canContinue() || model_.busy())
        return;
    draft_->setError(std::nullopt);
    if (draft_->step() < MigrationDraft::reviewStep)
        draft_->setStep(draft_->step() + 1);
    else
        beginImport();
}

void MigrationSheet::beginImport() {
    const std::optional<MigrationRequest> request = draft_->request();
    if (!request)
        return;
    // Plain values only: the request, and the relay that posts what the
    // worker reports to the draft on this thread.
    const MigrationRelay relay(*draft_);
    // An incomplete import returns its report, which the wizard shows; the
    // status bar says it failed.
    const bool accepted = model_.performChecked(
        L10n::text("Importing project…"), true, [request = *request, relay](AppEngine& engine) {
            try {
                MigrationResult result =
                    engine.migrate(request, [relay](MigrationPhase phase) { relay.phase(phase); });
                const bool succeeded = result.report.succeeded;
                relay.finished(std::move(result));
                return succeeded;
            } catch (...) {
                relay.failed(WorkerBridge::errorText(std::current_exception()));
                throw;
            }
        });
    // Only an accepted action ever reports back; marking a refused one as
    // importing would leave the sheet locked for good. The reports are
    // queued behind this, so none can arrive before it.
    if (accepted)
        draft_->setImporting(true);
}

void MigrationSheet::renderCleanup() {
    if (!draft_->confirmCleanup()) {
        if (cleanup_) {
            QMessageBox* closing = cleanup_;
            cleanup_.clear();
            closing->done(QMessageBox::Cancel);
            closing->deleteLater();
        }
        return;
    }
    const QString title = toQt(L10n::text("Remove the imported environment?"));
    const QString message =
        toQt(L10n::text("Only the newly imported environment and its managed copy will move to "
                        "Trash. The source project and SQL file will be kept."));
    const bool opening = !cleanup_;
    if (opening) {
        auto* box = new QMessageBox(this);
        box->setObjectName("cleanupConfirmation");
        box->setWindowModality(Qt::WindowModal);
        box->setIcon(QMessageBox::Warning);
        box->setTextFormat(Qt::PlainText);
        QPushButton* trash = box->addButton(QString(), QMessageBox::DestructiveRole);
        trash->setObjectName("moveToTrashButton");
        QPushButton* cancel = box->addButton(QString(), QMessageBox::RejectRole);
        cancel->setObjectName("cancelCleanupButton");
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
        connect(box, &QMessageBox::buttonClicked, this, [this, trash](QAbstractButton* button) {
            draft_->setConfirmCleanup(false);
            if (button == trash)
                removeImported();
        });
        // Closed any other way: the same as "Cancel".
        connect(box, &QDialog::finished, this, [this, box] {
            if (cleanup_ == box)
                draft_->setConfirmCleanup(false);
        });
        cleanup_ = box;
    }
    cleanup_->setWindowTitle(title);
    cleanup_->setText(title);
    if (auto* trash = cleanup_->findChild<QPushButton*>("moveToTrashButton"))
        trash->setText(DatabaseSheetStyle::buttonText(L10n::text("Move to Trash")));
    if (auto* cancel = cleanup_->findChild<QPushButton*>("cancelCleanupButton"))
        cancel->setText(DatabaseSheetStyle::buttonText(L10n::text("Cancel")));
    AlertWidth::setMessage(*cleanup_, message);
    if (opening)
        cleanup_->open();
}

void MigrationSheet::removeImported() {
    const auto& result = draft_->result();
    if (!result)
        return;
    // Taken before the sheet closes; the removal runs after it is gone and
    // its outcome shows in the window.
    const StackProfile profile = result->profile;
    AppModel& model = model_;
    model.setShowMigration(false);
    model.perform(L10n::text("Moving %@ to Trash…", {profile.name}), true,
                  [id = profile.id](AppEngine& engine) { engine.remove(id); });
}

void MigrationSheet::reject() {
    if (draft_->importing() || model_.busy())
        return;
    QDialog::reject();
}

void MigrationSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    render();
}

} // namespace vessora
