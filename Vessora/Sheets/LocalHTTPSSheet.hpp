// LocalHTTPSSheet: one saved environment's self-signed HTTPS certificate -
// the address it serves, whether this computer trusts it, its expiry and its
// SHA-256 fingerprint - with the manual steps that trust it, the certificate
// file opened or shown in the file manager, and renewal after a
// confirmation.
//
// The details are read from the engine on a worker when the sheet is built
// and again each time the model's busy flag changes, never while an action
// runs; a read still out when busy changes is dropped, so the sheet shows
// only what the engine said after the last action. Renewal goes through
// AppModel::perform and belongs to the model once started, also when the
// sheet closes. The record is the copy handed in and is not refreshed.
//
// Window-modal, deleted on close; the presenter learns of the end from
// finished().
#pragma once

#include "Vessora/Sheets/LocalHTTPSDraft.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QDialog>
#include <QPointer>

#include <filesystem>

class QFrame;
class QLabel;
class QMessageBox;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class IconLabel;
class SelectableText;

class LocalHTTPSSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 540;
    // Debian's manual page on adding a certificate to the system's trust
    // store, which is what "trusted on this computer" asks.
    static constexpr const char* trustGuideURL =
        "https://manpages.debian.org/bookworm/ca-certificates/update-ca-certificates.8.en.html";

    LocalHTTPSSheet(AppModel& model, AppPreferences& preferences, const StackProfile& profile,
                    QWidget* parent);

    const LocalHTTPSDraft& draft() const { return *draft_; }

private:
    void build();
    void connectSignals();
    void render();
    void renderConfirmation();

    void load();
    void askRenewal();
    void renew();
    bool running() const;
    std::filesystem::path certificateFile() const;

    AppModel& model_;
    AppPreferences& preferences_;
    const StackProfile profile_;
    LocalHTTPSDraft* draft_;
    // Answers of a read started before the last change of busy are dropped.
    unsigned readGeneration_ = 0;

    IconLabel* title_ = nullptr;
    QLabel* name_ = nullptr;
    SelectableText* address_ = nullptr;
    SelectableText* httpAddress_ = nullptr;
    IconLabel* trust_ = nullptr;
    QWidget* expiryRow_ = nullptr;
    QLabel* expiryTitle_ = nullptr;
    QLabel* expiryDate_ = nullptr;
    SelectableText* fingerprint_ = nullptr;
    SelectableText* error_ = nullptr;
    QLabel* explanation_ = nullptr;
    QFrame* trustBox_ = nullptr;
    QLabel* trustHeading_ = nullptr;
    QLabel* trustSteps_[3] = {};
    QLabel* trustNote_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* showFiles_ = nullptr;
    QPushButton* renew_ = nullptr;
    QLabel* runningNote_ = nullptr;
    QLabel* guide_ = nullptr;
    QPushButton* done_ = nullptr;
    QPointer<QMessageBox> confirmation_;
    QPushButton* confirmRenew_ = nullptr;
    QPushButton* cancelRenew_ = nullptr;
};

} // namespace vessora
