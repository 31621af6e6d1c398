// The pop-up button behind PackagePicker: one item per catalogue entry,
// titled with the entry's title and carrying its formula name (item data,
// Qt::UserRole). An entry Homebrew has disabled can be chosen only while it
// is installed; once the installed flags come from a real query, an entry
// that still has to be downloaded carries a download mark.
//
// showOptions() is the whole redraw. It rebuilds the menu only when an option's
// fingerprint (id, title, disabled, installed, status known) changed, and
// otherwise only moves the shown choice; it never emits chosen(). chosen()
// is emitted only for the user's own pick, never for a programmatic change,
// so a redraw cannot write a value back into a model.
#pragma once

#include "VessoraCore/Packages/BrewPackage.hpp"

#include <QComboBox>

#include <map>
#include <string>
#include <vector>

namespace vessora {

class VersionPopUp : public QComboBox {
    Q_OBJECT

public:
    explicit VersionPopUp(QWidget* parent = nullptr);

    // Redraws for these inputs; `title` is the translated name of the picker
    // (its accessibility name).
    void showOptions(const std::vector<BrewPackage>& options, const std::string& selection,
                     const std::map<std::string, bool>& installed, bool statusKnown,
                     const QString& title);

    // "id|title|disabled|installed|statusKnown", e.g. "php@8.4|8.4 (8.4.7)|false|true|true".
    static std::string fingerprint(const BrewPackage& option,
                                   const std::map<std::string, bool>& installed, bool statusKnown);

    // The image of an entry that still has to be downloaded. Other entries
    // carry a blank image of the same size, so the titles line up.
    static QIcon downloadMark();

    // How often the menu was built; for tests of the redraw.
    int menuBuilds() const { return menuBuilds_; }

signals:
    // The formula name the user picked.
    void chosen(const QString& formula);

private:
    void rebuild(const std::vector<BrewPackage>& options,
                 const std::map<std::string, bool>& installed, bool statusKnown);
    // Puts the marks' description in the current interface language.
    void describeMarks();
    void showChoice(const std::vector<BrewPackage>& options, const std::string& selection);

    std::vector<std::string> menuFingerprint_;
    int menuBuilds_ = 0;
};

} // namespace vessora
