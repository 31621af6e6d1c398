#include "Vessora/App/FileChooser.hpp"

#include <QDir>
#include <QFileDialog>
#include <QPointer>

#include <mutex>

namespace vessora {

namespace {

class DialogFileChooser final : public FileChooser {
public:
    void chooseFolder(QWidget* parent, const QString& title,
                      const std::optional<std::filesystem::path>& start, Answer answer,
                      const QString& prompt) override {
        auto* dialog = makeDialog(parent, title);
        dialog->setFileMode(QFileDialog::Directory);
        // Read-only also disables the dialog's "create folder" button.
        dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
        if (!prompt.isEmpty())
            dialog->setLabelText(QFileDialog::Accept, prompt);
        dialog->setDirectory(QString::fromStdString(startFolder(start).string()));
        open(dialog, std::move(answer));
    }

    void chooseFile(QWidget* parent, const QString& title, const QStringList& nameFilters,
                    const std::optional<std::filesystem::path>& start, Answer answer) override {
        auto* dialog = makeDialog(parent, title);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setOption(QFileDialog::ReadOnly);
        dialog->setNameFilters(nameFilters);
        dialog->setDirectory(QString::fromStdString(startFolder(start).string()));
        open(dialog, std::move(answer));
    }

private:
    static QFileDialog* makeDialog(QWidget* parent, const QString& title) {
        auto* dialog = new QFileDialog(parent, title);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        return dialog;
    }

    static void open(QFileDialog* dialog, Answer answer) {
        auto shared = std::make_shared<Answer>(std::move(answer));
        QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, shared](int result) {
            std::optional<std::filesystem::path> chosen;
            const auto files = dialog->selectedFiles();
            if (result == QDialog::Accepted && !files.isEmpty())
                chosen = std::filesystem::path(files.first().toStdString());
            if (*shared)
                (*shared)(chosen);
        });
        dialog->open();
    }
};

std::mutex instanceMutex;
std::shared_ptr<FileChooser>& instance() {
    static std::shared_ptr<FileChooser> chooser;
    return chooser;
}

} // namespace

std::filesystem::path FileChooser::startFolder(const std::optional<std::filesystem::path>& value) {
    std::error_code error;
    if (value && value->is_absolute()) {
        if (std::filesystem::is_directory(*value, error))
            return *value;
        if (std::filesystem::is_directory(value->parent_path(), error))
            return value->parent_path();
    }
    return std::filesystem::path(QDir::homePath().toStdString());
}

FileChooser& FileChooser::current() {
    std::lock_guard lock(instanceMutex);
    auto& chooser = instance();
    if (!chooser)
        chooser = std::make_shared<DialogFileChooser>();
    return *chooser;
}

void FileChooser::setCurrent(std::shared_ptr<FileChooser> chooser) {
    std::lock_guard lock(instanceMutex);
    instance() = std::move(chooser);
}

} // namespace vessora
