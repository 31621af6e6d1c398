// The row of buttons that take the user from an environment to its outside:
// the site, the web folder, the logs folder, the database manager, the
// import report and phpMyAdmin. Every target comes from the saved record,
// never from unsaved edits, and opens through DesktopOpening; a folder that
// does not exist opens the data root instead. "Databases" only raises the
// draft's database-sheet flag.
#pragma once

#include <QWidget>

#include <filesystem>

class QPushButton;

namespace vessora {

class EditorState;

class EditorShortcuts : public QWidget {
    Q_OBJECT

public:
    EditorShortcuts(const EditorState& state, QWidget* parent = nullptr);

    void render();

private:
    // Opens `folder` when something exists there, else the data root.
    void reveal(const std::filesystem::path& folder);
    QPushButton* addButton(const char* objectName, const char* icon);

    const EditorState& state_;
    QPushButton* openSite_;
    QPushButton* project_;
    QPushButton* logs_;
    QPushButton* databases_;
    QPushButton* importReport_;
    QPushButton* phpMyAdmin_;
};

} // namespace vessora
