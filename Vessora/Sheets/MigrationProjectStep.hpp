// The import wizard's first step: the new environment's name, the project
// folder (chosen through FileChooser), whether it is served in place or
// copied, and the web folder inside it, each row titled. A name another environment has
// already (ignoring case and accents) is named in orange; every other
// refusal only keeps Next disabled.
#pragma once

#include <QWidget>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vessora {

class AppModel;
class ElidedSelectableText;
class MigrationDraft;

class MigrationProjectStep : public QWidget {
    Q_OBJECT

public:
    MigrationProjectStep(AppModel& model, MigrationDraft& draft, QWidget* parent);

    void render();

private:
    void chooseFolder();

    AppModel& model_;
    MigrationDraft& draft_;
    QLabel* nameTitle_;
    QLineEdit* name_;
    QLabel* folderTitle_;
    QPushButton* choose_;
    ElidedSelectableText* folder_;
    QLabel* modeTitle_;
    QRadioButton* existing_;
    QRadioButton* copy_;
    QButtonGroup* modes_;
    QLabel* modeNote_;
    QLabel* publicTitle_;
    QLineEdit* publicDirectory_;
    QLabel* publicNote_;
    QLabel* nameInUse_;
};

} // namespace vessora
