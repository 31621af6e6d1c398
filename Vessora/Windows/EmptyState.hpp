// What the detail column shows when no environment is selected: a title, a
// description and a button that asks for the new-environment sheet (disabled
// while an action runs or without an engine).
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;

class EmptyState : public QWidget {
    Q_OBJECT

public:
    EmptyState(AppModel& model, AppPreferences& preferences, QWidget* parent = nullptr);

    void render();

private:
    AppModel& model_;
    QLabel* title_;
    QLabel* description_;
    QPushButton* create_;
};

} // namespace vessora
