// The main window's left column: the application's mark and name with a
// new-environment button, the list of environments with their run state and
// versions, and a footer with the count, the new-environment and import
// buttons and the support link. It keeps no state: the list's selection is
// the model's selectedID in both directions, and its buttons only set the
// model's sheet flags (the window presents the sheets).
#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;

namespace vessora {

class AppModel;
class AppPreferences;

class Sidebar : public QWidget {
    Q_OBJECT

public:
    Sidebar(AppModel& model, AppPreferences& preferences, QWidget* parent = nullptr);

    void render();

private:
    void buildHeader(QLayout* layout);
    void buildFooter(QLayout* layout);
    // Recreates the rows when the listed ids changed; otherwise only
    // redraws them.
    void renderRows();
    void renderSelection();
    void selectionMoved(QListWidgetItem* current);
    void showContextMenu(const QPoint& position);

    AppModel& model_;
    QLabel* logo_;
    QLabel* name_;
    QToolButton* headerNew_;
    QLabel* section_;
    QListWidget* list_;
    QLabel* count_;
    QToolButton* footerNew_;
    QPushButton* import_;
    QPushButton* support_;
    QLabel* supportText_;
    std::vector<std::string> rowIDs_;
};

} // namespace vessora
