#include "Vessora/Windows/DeleteConfirmation.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/AlertWidth.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <QPushButton>

namespace vessora {

DeleteConfirmation::DeleteConfirmation(AppModel& model, AppPreferences& preferences,
                                       StackProfile profile, QWidget* parent)
    : QMessageBox(parent), model_(model), profile_(std::move(profile)) {
    setObjectName("deleteConfirmation");
    setIcon(QMessageBox::Warning);
    setTextFormat(Qt::PlainText);
    trash_ = addButton(QString(), QMessageBox::DestructiveRole);
    trash_->setObjectName("moveToTrashButton");
    cancel_ = addButton(QString(), QMessageBox::RejectRole);
    cancel_->setObjectName("cancelButton");
    setDefaultButton(cancel_);
    setEscapeButton(cancel_);

    connect(trash_, &QPushButton::clicked, this, &DeleteConfirmation::moveToTrash);
    // Cancel, Escape and Move to Trash alike.
    connect(this, &QDialog::finished, this, [this] {
        model_.setPendingDeletion(std::nullopt);
        model_.setShowDeleteConfirmation(false);
    });
    connect(&preferences, &AppPreferences::changed, this, &DeleteConfirmation::render);
    render();
}

void DeleteConfirmation::render() {
    setWindowTitle(toQt(L10n::text("Delete environment?")));
    setText(toQt(L10n::text("Delete environment?")));
    trash_->setText(toQt(L10n::text("Move to Trash")));
    cancel_->setText(toQt(L10n::text("Cancel")));
    AlertWidth::setMessage(*this, QString::fromStdString(message(model_, profile_)));
}

std::string DeleteConfirmation::message(const AppModel& model, const StackProfile& profile) {
    const std::string folder = StackPaths(model.dataRoot(), profile).directory().string();
    if (profile.documentRoot)
        return L10n::text("Remove “%@” from Vessora? Its services will stop. Its managed files, "
                          "all MariaDB data, configurations, and logs will move to the Trash. The "
                          "external web directory and its contents will be kept.\n\nFolder: %@",
                          {profile.name, folder});
    return L10n::text("Remove “%@” from Vessora? Its services will stop, and its project files, "
                      "all MariaDB data, configurations, and logs will move to the Trash.\n\n"
                      "Folder: %@",
                      {profile.name, folder});
}

void DeleteConfirmation::moveToTrash() {
    // A request while another action runs, or without an engine, deletes
    // nothing; the alert closes all the same.
    model_.perform(L10n::text("Moving %@ to Trash…", {profile_.name}), true,
                   [id = profile_.id](AppEngine& engine) { engine.remove(id); });
}

} // namespace vessora
