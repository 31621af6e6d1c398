// The frame of the database management sheet's three forms (new database,
// new user, change password): a window-modal dialog on the sheet, 440 wide,
// with its title, the form's own fields, the error line it shares with the
// sheet, and "Cancel" and the submit button. The form is open while its
// flag in the draft is set; "Cancel", Escape and the close button clear
// that flag and send nothing, and none of them works while an action runs.
// Return presses the submit button only while it is enabled.
#pragma once

#include "Vessora/Sheets/DatabaseManagerDraft.hpp"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vessora {

class DatabaseManagerForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int formWidth = 440;

    // Idempotent: every text, value and enabled flag from the draft.
    virtual void render() = 0;

    void reject() override;

protected:
    DatabaseManagerForm(DatabaseManagerDraft& draft, QWidget* parent);

    DatabaseManagerDraft& draft() const { return draft_; }
    // Where the form's own elements go, between the title and the error line.
    QVBoxLayout* fields() const { return fields_; }
    // The common parts: title, error line, buttons; then the height.
    void renderFrame(const std::string& title, const std::string& submit, bool submitEnabled);

    // Clears the form's flag in the draft.
    virtual void cancel() = 0;
    virtual void submit() = 0;

    // Sizes again once the children count as visible.
    void showEvent(QShowEvent* event) override;

private:
    DatabaseManagerDraft& draft_;
    QLabel* title_;
    QVBoxLayout* fields_;
    QLabel* error_;
    QPushButton* cancel_;
    QPushButton* submit_;
};

} // namespace vessora
