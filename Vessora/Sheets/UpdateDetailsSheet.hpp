// UpdateDetailsSheet: the update details, window-modal over the main window
// while AppUpdates::showDetails is true. From top to bottom: the title, the
// installed version, a progress row while a check runs, the status (a newer
// release with its download link, Homebrew commands and quit note, or why it
// cannot run here; the note for a development build; or that nothing newer
// is published), the last error, the time of the last successful check, and
// the row "Release page", "Check again", "Done".
//
// Every line follows the update state as it is drawn, so a check started
// here shows its progress and then its result in place. Closing the sheet
// (Done, Escape) sets showDetails false. Open it with open(); it deletes
// itself when closed.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace vessora {

class AppPreferences;
class AppUpdates;

class UpdateDetailsSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 480;

    UpdateDetailsSheet(AppUpdates& updates, AppPreferences& preferences, QWidget* parent = nullptr);

    // Sets every text, enabled flag and visibility from the update state.
    void render();

private:
    void build();
    void fitHeight();

    AppUpdates& updates_;
    AppPreferences& preferences_;

    QVBoxLayout* layout_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* installed_ = nullptr;
    QWidget* checkingRow_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* checking_ = nullptr;
    QLabel* headline_ = nullptr;
    QWidget* requirementRow_ = nullptr;
    QLabel* requirement_ = nullptr;
    QPushButton* download_ = nullptr;
    QToolButton* homebrewToggle_ = nullptr;
    QWidget* homebrewBox_ = nullptr;
    QLabel* command_ = nullptr;
    QPushButton* copyCommand_ = nullptr;
    QLabel* quitNote_ = nullptr;
    QLabel* packagedOnly_ = nullptr;
    QWidget* currentRow_ = nullptr;
    QLabel* current_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* lastChecked_ = nullptr;
    QFrame* divider_ = nullptr;
    QPushButton* releasePage_ = nullptr;
    QPushButton* checkAgain_ = nullptr;
    QPushButton* done_ = nullptr;
};

} // namespace vessora
