// The editor of one saved environment, the detail pane of the main window:
// the header with Start, Stop and Delete; the "Runtime" and "Ports" cards,
// which edit a private draft and are locked while an action runs or the
// environment runs; the save or install bar; the local-addresses row for a
// hostname; the shortcuts; the HTTPS row; and the details group. It presents
// the certificate sheet and the database manager for the saved record while
// the draft's flags ask for them.
//
// The main window makes one editor per saved record and makes a new one when
// the saved record changes in any field or another environment is selected;
// that drops unsaved edits. Everything else - the status poll, reloads after
// actions, a change of language - only redraws this one, so the draft and a
// field being typed in survive.
#pragma once

#include "Vessora/Windows/EditorState.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class EditorActionBar;
class EditorDetails;
class EditorHeader;
class EditorShortcuts;
class PortsSection;
class ProfileDraft;
class RuntimeSection;

class EnvironmentEditor : public QWidget {
    Q_OBJECT

public:
    EnvironmentEditor(AppModel& model, AppPreferences& preferences, StackProfile saved,
                      QWidget* parent = nullptr);
    // Its parts read the editor's state: they go first.
    ~EnvironmentEditor() override;

    const StackProfile& saved() const { return state_.saved(); }
    ProfileDraft& draft() const { return *draft_; }
    const EditorState& state() const { return state_; }

    // The sheets the editor has open now, if any.
    QDialog* certificateSheet() const { return certificateSheet_; }
    QDialog* databaseSheet() const { return databaseSheet_; }

    void render();

private:
    void build(AppPreferences& preferences);
    QWidget* buildLocalAddressRow();
    QWidget* buildHTTPSRow();
    void renderRows();
    // Opens or closes the two sheets after the draft's flags, through the
    // window's sheet presenter when there is one.
    void presentSheets();
    void present(const QString& key, bool wanted, QPointer<QDialog>& sheet,
                 const std::function<QDialog*(QWidget*)>& make,
                 const std::function<bool(ProfileDraft&)>& flag,
                 const std::function<void(ProfileDraft&)>& lower);

    AppPreferences& preferences_;
    ProfileDraft* draft_;
    EditorState state_;

    EditorHeader* header_ = nullptr;
    QWidget* form_ = nullptr;
    RuntimeSection* runtime_ = nullptr;
    PortsSection* ports_ = nullptr;
    EditorActionBar* actions_ = nullptr;
    QWidget* localAddressRow_ = nullptr;
    QLabel* localAddressIcon_ = nullptr;
    QLabel* localAddressStatus_ = nullptr;
    QPushButton* localAddresses_ = nullptr;
    EditorShortcuts* shortcuts_ = nullptr;
    QWidget* httpsRow_ = nullptr;
    QLabel* httpsIcon_ = nullptr;
    QLabel* httpsLabel_ = nullptr;
    QPushButton* certificate_ = nullptr;
    EditorDetails* details_ = nullptr;

    QPointer<QDialog> certificateSheet_;
    QPointer<QDialog> databaseSheet_;
};

} // namespace vessora
