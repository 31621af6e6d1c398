// PreferencesView: the content of the settings window. The interface
// language (a pop-up of the four languages under their own names, applied
// at once), automatic update checks, and the button that checks now (the
// main window comes forward with the update details). Exactly 380 pixels
// wide; its height follows its wrapped captions.
#pragma once

#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vessora {

class AppPreferences;
class AppUpdates;

class PreferencesView : public QWidget {
    Q_OBJECT

public:
    static constexpr int viewWidth = 380;
    static constexpr int viewMinimumHeight = 180;

    PreferencesView(AppPreferences& preferences, AppUpdates& updates, QWidget* parent = nullptr);

    // Sets every text, the chosen language, the check box, the button's
    // enabled flag and the locale from the two state objects.
    void render();

    // The fixed width and the height its wrapped captions need there.
    QSize sizeHint() const override;

private:
    int neededHeight() const;

    AppPreferences& preferences_;
    AppUpdates& updates_;
    // A preference the defaults could not store, shown until the next
    // change is stored.
    std::optional<QString> storeError_;

    QVBoxLayout* layout_;
    QLabel* heading_;
    QComboBox* language_;
    QLabel* languageCaption_;
    QLabel* dialogsCaption_;
    QCheckBox* automatic_;
    QLabel* automaticCaption_;
    QPushButton* checkNow_;
    QLabel* error_;
};

} // namespace vessora
