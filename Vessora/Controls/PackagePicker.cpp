#include "Vessora/Controls/PackagePicker.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>

#include <algorithm>

namespace vessora {

PackagePicker::PackagePicker(AppModel& model, AppPreferences& preferences, std::string titleKey,
                             PackageFamily family, QWidget* parent)
    : QWidget(parent), model_(model), titleKey_(std::move(titleKey)), family_(family),
      popUp_(new VersionPopUp(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(popUp_);
    FormStyle::makeSmall(popUp_);
    popUp_->setFixedSize(width, height);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(popUp_, &VersionPopUp::chosen, this, [this](const QString& formula) {
        if (formula.toStdString() == selection_)
            return;
        selection_ = formula.toStdString();
        emit selectionEdited(formula);
    });
    connect(&model_, &AppModel::packagesChanged, this, &PackagePicker::render);
    connect(&preferences, &AppPreferences::changed, this, &PackagePicker::render);
    render();
}

void PackagePicker::setSelection(std::string formula) {
    if (formula == selection_)
        return;
    selection_ = std::move(formula);
    render();
}

std::vector<BrewPackage> PackagePicker::options() const {
    std::vector<BrewPackage> result;
    for (const BrewPackage& package : model_.packages()) {
        if (package.family == family_)
            result.push_back(package);
    }
    const bool listed = std::any_of(result.begin(), result.end(),
                                    [&](const BrewPackage& p) { return p.id == selection_; });
    if (!listed)
        result.push_back(BrewPackage::savedSelection(selection_, family_));
    return result;
}

void PackagePicker::render() {
    const QString title = QString::fromStdString(L10n::text(titleKey_));
    popUp_->showOptions(options(), selection_, model_.installed(), model_.packageStatusKnown(),
                        title);
    setAccessibleName(title);
    const QString help = QString::fromStdString(
        L10n::text("The download icon marks a package that is not installed. Save your "
                   "selection, then choose Install packages."));
    popUp_->setToolTip(help);
}

} // namespace vessora
