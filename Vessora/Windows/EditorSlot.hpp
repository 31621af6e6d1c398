// The place in the main window where the editor of the selected environment
// goes. The editor is identified by the whole saved record: it is made anew
// (and unsaved edits are dropped) only when another environment is selected
// or the saved record changed in any field; while the record stays equal,
// the same editor survives every poll and reload.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace vessora {

class AppModel;
class AppPreferences;

class EditorSlot : public QWidget {
    Q_OBJECT

public:
    EditorSlot(AppModel& model, AppPreferences& preferences, QWidget* parent = nullptr);

    // Shows the editor of `saved`, or none.
    void showRecord(const std::optional<StackProfile>& saved);
    QWidget* editor() const { return editor_; }
    const std::optional<StackProfile>& record() const { return record_; }

signals:
    // A new editor was put in place. Its widgets joined the window's focus
    // chain at its end.
    void editorReplaced();

private:
    // The one place the editor is made, with the saved record it edits.
    QWidget* createEditor(const StackProfile& saved);

    AppModel& model_;
    AppPreferences& preferences_;
    std::optional<StackProfile> record_;
    QPointer<QWidget> editor_;
};

} // namespace vessora
