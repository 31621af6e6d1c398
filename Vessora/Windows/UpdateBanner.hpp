// UpdateBanner: the one-line notice the main window shows above its content
// while a newer release is known ("Vessora 1.4.0 is available.", "Details…"
// and a close button). It shows and hides itself: visible only while the
// release is available or needs a newer system, and the user has not closed
// it for this release. Do not show() or hide() it from outside.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace vessora {

class AppPreferences;
class AppUpdates;

class UpdateBanner : public QWidget {
    Q_OBJECT

public:
    UpdateBanner(AppUpdates& updates, AppPreferences& preferences, QWidget* parent = nullptr);

    // Sets every text and the visibility from the update state.
    void render();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppUpdates& updates_;
    QLabel* symbol_;
    QLabel* message_;
    QPushButton* details_;
    QToolButton* close_;
};

} // namespace vessora
