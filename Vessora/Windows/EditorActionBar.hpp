// The action bar below the environment editor's form, chosen from the data
// alone: with unsaved changes the save bar ("Save changes", "Discard") and,
// when the draft switches the MariaDB series, a note that each series keeps
// its own data; without them the install bar while the package status is
// known and a formula of the saved record is missing; else nothing.
//
// Save hands the draft record as it stands to AppModel::perform; Discard
// puts the saved record back into the draft; Install installs the saved
// record's formulae.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vessora {

class EditorState;

class EditorActionBar : public QWidget {
    Q_OBJECT

public:
    enum class Bar { none, install, save };

    EditorActionBar(const EditorState& state, QWidget* parent = nullptr);

    static Bar chosen(const EditorState& state);
    void render();

private:
    void save();
    void discard();
    void install();

    const EditorState& state_;
    QWidget* saveBar_;
    QPushButton* save_;
    QPushButton* discard_;
    QLabel* unsaved_;
    QLabel* seriesNote_;
    QWidget* installBar_;
    QPushButton* install_;
    QLabel* installCaption_;
};

} // namespace vessora
