// The "Runtime" card of the environment editor: name, web server with the
// HTTPS box, PHP, MariaDB with the phpMyAdmin box, hostname and web folder.
// It edits only the editor's draft; nothing reaches the engine before Save.
//
// HTTPS port rule: when the draft's HTTPS is switched on (not for the value
// the editor starts with) and the draft has no HTTPS port, the draft gets the
// model's suggested port; a port already there is kept, also when HTTPS is
// switched off.
#pragma once

#include "Vessora/Controls/EditorSection.hpp"

#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace vessora {

class AppPreferences;
class EditorState;
class LocalAddressField;
class PackagePicker;
class WebDirectoryField;

class RuntimeSection : public EditorSection {
    Q_OBJECT

public:
    RuntimeSection(const EditorState& state, AppPreferences& preferences,
                   QWidget* parent = nullptr);

    void render();

private:
    void build(AppPreferences& preferences);
    void connectControls();
    QLabel* addRow(QWidget* control);
    // The HTTPS port rule, run on every change of the draft.
    void watchHTTPS();

    const EditorState& state_;
    bool httpsSeen_;
    QGridLayout* grid_ = nullptr;
    std::vector<QLabel*> rowLabels_;
    QLineEdit* name_ = nullptr;
    PackagePicker* webserver_ = nullptr;
    QCheckBox* https_ = nullptr;
    PackagePicker* php_ = nullptr;
    PackagePicker* mariaDB_ = nullptr;
    QCheckBox* phpMyAdmin_ = nullptr;
    LocalAddressField* localAddress_ = nullptr;
    WebDirectoryField* webDirectory_ = nullptr;
};

} // namespace vessora
