// The folder and file choosers of the forms. The desktop's chooser is a
// window-modal QFileDialog opened with open() that answers through the
// callback (none when the user cancels), never a nested event loop. One
// replaceable instance, so tests answer without a dialog.
#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace vessora {

class FileChooser {
public:
    using Answer = std::function<void(std::optional<std::filesystem::path>)>;

    virtual ~FileChooser() = default;

    // Existing folders only; no button that creates one. `prompt`, when
    // given, replaces the title of the confirm button.
    virtual void chooseFolder(QWidget* parent, const QString& title,
                              const std::optional<std::filesystem::path>& start, Answer answer,
                              const QString& prompt = {}) = 0;
    // Existing files matching one of the name filters ("SQL dump (*.sql)").
    virtual void chooseFile(QWidget* parent, const QString& title, const QStringList& nameFilters,
                            const std::optional<std::filesystem::path>& start, Answer answer) = 0;

    // Where a chooser opens for a field holding `value`: the folder itself,
    // the folder of a file, else the user's home folder (never the folder
    // the program was started from).
    static std::filesystem::path startFolder(const std::optional<std::filesystem::path>& value);

    static FileChooser& current();
    // None restores the desktop's own.
    static void setCurrent(std::shared_ptr<FileChooser> chooser);
};

} // namespace vessora
