// The version chooser of one package family (PHP series, MariaDB series or
// web server) in the environment forms. It offers the catalogue entries of
// its family from AppModel and holds the chosen formula name, which the form
// that owns it binds to its draft:
//
//   picker->setSelection(draft.php());          // in the form's render()
//   connect(picker, &PackagePicker::selectionEdited, draft,
//           [draft](const QString& formula) { draft->setPHP(formula.toStdString()); });
//
// A selection the catalogue lacks is still shown, as a last, disabled entry.
// setSelection() and every redraw (on the model's package changes and the
// preferences' changes) emit nothing: only the user's pick does, so a redraw
// never writes back into the draft. Disable the picker with setEnabled().
#pragma once

#include "VessoraCore/Packages/BrewPackage.hpp"

#include <QWidget>

#include <string>
#include <vector>

namespace vessora {

class AppModel;
class AppPreferences;
class VersionPopUp;

class PackagePicker : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 168;
    static constexpr int height = 22;

    // `titleKey` is the English name of the picker ("PHP", "MariaDB",
    // "Web server"), looked up on every redraw.
    PackagePicker(AppModel& model, AppPreferences& preferences, std::string titleKey,
                  PackageFamily family, QWidget* parent = nullptr);

    const std::string& selection() const { return selection_; }
    // Stores and shows the formula name; emits nothing.
    void setSelection(std::string formula);

    // The model's entries of this family in catalogue order, then the
    // selection as a disabled placeholder when none of them is it.
    std::vector<BrewPackage> options() const;

    VersionPopUp* popUp() const { return popUp_; }
    void render();

signals:
    // The user picked another formula; selection() already holds it.
    void selectionEdited(const QString& formula);

private:
    AppModel& model_;
    std::string titleKey_;
    PackageFamily family_;
    std::string selection_;
    VersionPopUp* popUp_;
};

} // namespace vessora
