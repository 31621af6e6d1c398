#include "Vessora/Windows/EditorSlot.hpp"

#include "Vessora/Windows/EnvironmentEditor.hpp"

#include <QVBoxLayout>

namespace vessora {

EditorSlot::EditorSlot(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), model_(model), preferences_(preferences) {
    setObjectName("editorSlot");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void EditorSlot::showRecord(const std::optional<StackProfile>& saved) {
    if (saved == record_ && (editor_ || !saved))
        return;
    record_ = saved;
    if (editor_) {
        // Later, so an editor whose own button led here is not deleted
        // under its feet.
        editor_->hide();
        editor_->deleteLater();
        editor_ = nullptr;
    }
    if (!saved)
        return;
    editor_ = createEditor(*saved);
    layout()->addWidget(editor_);
    emit editorReplaced();
}

QWidget* EditorSlot::createEditor(const StackProfile& saved) {
    return new EnvironmentEditor(model_, preferences_, saved, this);
}

} // namespace vessora
