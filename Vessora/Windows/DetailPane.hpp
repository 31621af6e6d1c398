// The scrolling content of the main window's detail column, top to bottom:
// the update banner, the editor of the selected environment or the empty
// state, the last error, and the package-install log while an action runs.
// It keeps no state; render() reads the model. The error and the log stand
// below the editor, so when one of them appears (or the error changes) the
// pane asks the window to scroll it into view.
#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QVBoxLayout;

namespace vessora {

class AppModel;
class AppPreferences;
class EditorSlot;
class EmptyState;

class DetailPane : public QWidget {
    Q_OBJECT

public:
    DetailPane(AppModel& model, AppPreferences& preferences, QWidget* parent = nullptr);

    void render();

    // Puts the update banner at the top; it shows or hides itself.
    void setBanner(QWidget* banner);
    EditorSlot& editorSlot() const { return *editor_; }
    // Asks to reveal the error or the log that shows now (the window calls
    // it once it listens: an engine that could not be opened has its error
    // from the start).
    void revealNotices();

signals:
    // `widget` has just appeared and should be scrolled into view.
    void revealRequested(QWidget* widget);

private:
    AppModel& model_;
    QVBoxLayout* layout_;
    EditorSlot* editor_;
    EmptyState* empty_;
    QWidget* errorBox_;
    QLabel* errorText_;
    QPlainTextEdit* installLog_;
};

} // namespace vessora
