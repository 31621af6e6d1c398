// The web-folder chooser of the environment forms. Its value is an optional
// absolute folder path; none stands for the environment's managed folder
// ("public" in the environment folder). The choose button, titled with the
// folder's last path component or "Default folder", opens the folder
// chooser (FileChooser: existing folders only, starting in the current
// folder); the reset button, shown only while a folder is set, returns to
// the managed folder.
//
// The field does not check the folder: the engine refuses a missing folder
// or one inside the data root when the environment is created, saved or
// started. A form binds it like this:
//
//   field->setPath(draft.documentRoot());       // in the form's render()
//   connect(field, &WebDirectoryField::pathEdited, draft,
//           [draft, field] { draft->setDocumentRoot(field->path()); });
//
// setPath() and render() emit nothing; pathEdited() follows only a choice
// or a reset by the user.
#pragma once

#include <QWidget>

#include <optional>
#include <string>

class QToolButton;

namespace vessora {

class AppPreferences;
class ElidingButton;

class WebDirectoryField : public QWidget {
    Q_OBJECT

public:
    explicit WebDirectoryField(AppPreferences& preferences, QWidget* parent = nullptr);

    const std::optional<std::string>& path() const { return path_; }
    // Stores and shows the path; emits nothing.
    void setPath(std::optional<std::string> path);

    ElidingButton* chooseButton() const { return choose_; }
    QToolButton* resetButton() const { return reset_; }
    void render();

signals:
    // The user chose a folder or reset to the managed folder; path() holds
    // the new value.
    void pathEdited();

private:
    void choose();
    void edit(std::optional<std::string> path);

    std::optional<std::string> path_;
    ElidingButton* choose_;
    QToolButton* reset_;
};

} // namespace vessora
