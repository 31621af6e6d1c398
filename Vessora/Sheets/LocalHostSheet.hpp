// LocalHostSheet: the one-time setup of local addresses. It explains the
// feature, shows the helper's state (ready, waiting for the approval of its
// system service, or not connected) and the model's last error, and offers
// the buttons that fit that state: set up, enable the system service, update,
// retry, and remove the setup. It keeps no state of its own: every button
// starts one of the model's local-address operations and the sheet follows
// the model's flags as they change, staying open until "Done" or Escape.
//
// Window-modal, deleted on close; closing clears AppModel::showLocalHosts.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class IconLabel;
class SelectableText;

class LocalHostSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 530;

    LocalHostSheet(AppModel& model, AppPreferences& preferences, QWidget* parent);

private:
    void build();
    void connectSignals();
    void render();

    AppModel& model_;
    AppPreferences& preferences_;

    IconLabel* title_ = nullptr;
    QLabel* introduction_ = nullptr;
    QLabel* setupNote_ = nullptr;
    IconLabel* ready_ = nullptr;
    IconLabel* approval_ = nullptr;
    QLabel* portBased_ = nullptr;
    SelectableText* error_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* done_ = nullptr;
    QPushButton* primary_ = nullptr;
};

} // namespace vessora
