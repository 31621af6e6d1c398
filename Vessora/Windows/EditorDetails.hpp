// The editor's collapsible "Environment details" group, expanded while the
// draft's showDetails flag is set: the saved record's web folder path, the
// process id of each service while the environment runs, and a note on what
// each environment keeps to itself.
#pragma once

#include "VessoraCore/Records/StackStatus.hpp"

#include <QWidget>

#include <string>

class QLabel;
class QToolButton;

namespace vessora {

class EditorState;

class EditorDetails : public QWidget {
    Q_OBJECT

public:
    EditorDetails(const EditorState& state, QWidget* parent = nullptr);

    // "MariaDB: 101 · PHP: 102 · nginx: 103", by service name.
    static std::string processList(const StackStatus& status);

    void render();

private:
    const EditorState& state_;
    QToolButton* toggle_;
    QWidget* content_;
    QLabel* webPath_;
    QLabel* processes_;
    QLabel* note_;
};

} // namespace vessora
