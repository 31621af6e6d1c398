// The project import wizard: four steps (project, database, runtime,
// review) that fill a MigrationDraft, then the import with its phases, and
// its result. The main window opens it (window-modal, open()) while
// AppModel::showMigration() is true; every way of closing it sets that flag
// back to false, and the sheet closes when the flag turns false.
//
// The sheet shows one of three states, derived from the draft: editing (the
// step indicator, the current step, Back, Cancel and Next or "Import
// project"), importing (the last reported phase; only a disabled Cancel)
// and finished (the result; only Done). Next and "Import project" need the
// step to be complete and no action to run. While an import or any action
// runs, nothing closes the sheet: not Cancel, not Escape, not the window's
// close button.
//
// "Import project" hands the import to AppModel::perform and shows the
// importing state only when perform accepted it. The engine's worker only
// posts its phases, its result or its failure to the draft (MigrationRelay);
// a failure returns to the review with its text. After an incomplete
// import the sheet offers to move the new environment to the Trash, after
// a confirmation; the sheet closes first and the removal's outcome shows in
// the window.
#pragma once

#include <QDialog>
#include <QPointer>

#include <string>
#include <vector>

class QFrame;
class QLabel;
class QMessageBox;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class BusyIndicator;
class IconLabel;
class MigrationDatabaseStep;
class MigrationDraft;
class MigrationProjectStep;
class MigrationResultView;
class MigrationReviewStep;
class MigrationRuntimeStep;
class MigrationStepIndicator;
class SelectableText;

class MigrationSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 550;

    MigrationSheet(AppModel& model, AppPreferences& preferences, QWidget* parent);

    // The step titles, English keys; the index is the draft's step.
    static const std::vector<std::string>& steps();

    MigrationDraft& draft() const { return *draft_; }
    bool canContinue() const;
    void render();
    // Refused while an import or any other action runs.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build(AppPreferences& preferences);
    void connectSignals(AppPreferences& preferences);
    void goBack();
    void goOn();
    void beginImport();
    void renderCleanup();
    void removeImported();

    AppModel& model_;
    MigrationDraft* draft_;

    IconLabel* title_ = nullptr;
    MigrationStepIndicator* indicator_ = nullptr;
    QFrame* divider_ = nullptr;
    MigrationProjectStep* project_ = nullptr;
    MigrationDatabaseStep* database_ = nullptr;
    MigrationRuntimeStep* runtime_ = nullptr;
    MigrationReviewStep* review_ = nullptr;
    QWidget* progress_ = nullptr;
    BusyIndicator* spinner_ = nullptr;
    QLabel* phase_ = nullptr;
    QLabel* keepOpen_ = nullptr;
    MigrationResultView* result_ = nullptr;
    SelectableText* error_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* primary_ = nullptr;
    QPointer<QMessageBox> cleanup_;
    bool rendering_ = false;
};

} // namespace vessora
