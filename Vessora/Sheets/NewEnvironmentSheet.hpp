// The sheet in which the user creates an environment: name, web server with
// HTTPS, PHP, MariaDB with phpMyAdmin, hostname, web folder and database
// name. Ports are not asked for; the engine assigns free ones.
//
// The main window opens it (window-modal, open()) while
// AppModel::showCreate() is true; every way of closing it sets that flag
// back to false, and the sheet closes when the flag turns false. Create is
// enabled only for a request the engine can accept and no action running.
// Pressing it takes the draft's values, closes the sheet and only then hands
// the request to AppModel::perform, so a failure shows in the main window
// and the action never touches the sheet or its draft.
#pragma once

#include <QDialog>

#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class LocalAddressField;
class NewEnvironmentDraft;
class PackagePicker;
class WebDirectoryField;

class NewEnvironmentSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int contentWidth = 500;

    NewEnvironmentSheet(AppModel& model, AppPreferences& preferences, QWidget* parent);

    NewEnvironmentDraft& draft() const { return *draft_; }
    void render();

private:
    void build(AppPreferences& preferences);
    void connectSignals(AppPreferences& preferences);
    QLabel* addRow(QGridLayout* grid, QWidget* control);
    void create();

    AppModel& model_;
    NewEnvironmentDraft* draft_;

    QLabel* title_ = nullptr;
    // Row labels with their English keys, in row order.
    std::vector<QLabel*> rowLabels_;
    QLineEdit* name_ = nullptr;
    PackagePicker* webserver_ = nullptr;
    QCheckBox* https_ = nullptr;
    PackagePicker* php_ = nullptr;
    PackagePicker* mariaDB_ = nullptr;
    QCheckBox* phpMyAdmin_ = nullptr;
    LocalAddressField* localAddress_ = nullptr;
    WebDirectoryField* webDirectory_ = nullptr;
    QLineEdit* databaseName_ = nullptr;
    QLabel* hostnameMessage_ = nullptr;
    QLabel* nameInUseMessage_ = nullptr;
    QLabel* databaseMessage_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* create_ = nullptr;
};

} // namespace vessora
