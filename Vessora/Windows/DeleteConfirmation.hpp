// The alert that confirms deleting one environment: it names the environment
// and the folder that goes to the Trash, and says whether an external web
// folder is kept. "Move to Trash" runs the engine's delete through
// AppModel::perform; either way the pending record is cleared and the
// confirmation flag set back when the alert closes. The main window presents
// it like a sheet, opened with open().
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <QMessageBox>

#include <string>

namespace vessora {

class AppModel;
class AppPreferences;

class DeleteConfirmation : public QMessageBox {
    Q_OBJECT

public:
    DeleteConfirmation(AppModel& model, AppPreferences& preferences, StackProfile profile,
                       QWidget* parent);

    void render();

    // The message for this record under the model's data root.
    static std::string message(const AppModel& model, const StackProfile& profile);

private:
    void moveToTrash();

    AppModel& model_;
    StackProfile profile_;
    QPushButton* trash_;
    QPushButton* cancel_;
};

} // namespace vessora
