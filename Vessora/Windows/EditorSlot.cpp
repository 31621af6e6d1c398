#include "Vessora/Windows/EditorSlot.hpp"

#include <QLabel>
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
}

QWidget* EditorSlot::createEditor(const StackProfile& saved) {
    // The environment editor replaces this placeholder, made here with
    // model_, preferences_ and `saved`; until then the environment's name.
    auto* placeholder = new QLabel(QString::fromStdString(saved.name), this);
    placeholder->setObjectName("editorPlaceholder");
    placeholder->setTextFormat(Qt::PlainText);
    placeholder->setWordWrap(true);
    QFont font = placeholder->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setWeight(QFont::DemiBold);
    placeholder->setFont(font);
    return placeholder;
}

} // namespace vessora
