#include "Vessora/Controls/VersionPopUp.hpp"

#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/WheelGuard.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QAbstractItemView>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStandardItemModel>

namespace vessora {

namespace {

bool installedFlag(const std::map<std::string, bool>& installed, const std::string& id) {
    auto found = installed.find(id);
    return found != installed.end() && found->second;
}

const char* flag(bool value) {
    return value ? "true" : "false";
}

QIcon blankMark() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

} // namespace

VersionPopUp::VersionPopUp(QWidget* parent) : QComboBox(parent) {
    setObjectName("versionPopUp");
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(4);
    WheelGuard::guard(this);
    // The list shows items with their own enabled flags; a disabled item
    // cannot be picked.
    setModel(new QStandardItemModel(this));
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QVariant formula = itemData(index, Qt::UserRole);
        if (formula.typeId() == QMetaType::QString)
            emit chosen(formula.toString());
    });
}

QIcon VersionPopUp::downloadMark() {
    return Icons::named("emblem-downloads");
}

std::string VersionPopUp::fingerprint(const BrewPackage& option,
                                      const std::map<std::string, bool>& installed,
                                      bool statusKnown) {
    return option.id + "|" + option.title() + "|" + flag(option.disabled) + "|" +
           flag(installedFlag(installed, option.id)) + "|" + flag(statusKnown);
}

void VersionPopUp::showOptions(const std::vector<BrewPackage>& options,
                               const std::string& selection,
                               const std::map<std::string, bool>& installed, bool statusKnown,
                               const QString& title) {
    const QSignalBlocker blocker(this);
    std::vector<std::string> fingerprints;
    fingerprints.reserve(options.size());
    for (const BrewPackage& option : options)
        fingerprints.push_back(fingerprint(option, installed, statusKnown));
    if (fingerprints != menuFingerprint_) {
        rebuild(options, installed, statusKnown);
        menuFingerprint_ = std::move(fingerprints);
    } else {
        describeMarks();
    }
    showChoice(options, selection);
    setAccessibleName(title);
}

void VersionPopUp::rebuild(const std::vector<BrewPackage>& options,
                           const std::map<std::string, bool>& installed, bool statusKnown) {
    auto* items = static_cast<QStandardItemModel*>(model());
    items->clear();
    const QString downloadText = QString::fromStdString(L10n::text("Download required"));
    const QIcon mark = downloadMark();
    const QIcon blank = blankMark();
    for (const BrewPackage& option : options) {
        const bool isInstalled = installedFlag(installed, option.id);
        auto* item = new QStandardItem(QString::fromStdString(option.title()));
        item->setData(QString::fromStdString(option.id), Qt::UserRole);
        // Homebrew's disabled formulae stay selectable while installed.
        item->setEnabled(!option.disabled || isInstalled);
        if (statusKnown && !option.disabled && !isInstalled) {
            item->setIcon(mark);
            item->setData(downloadText, Qt::AccessibleDescriptionRole);
            item->setToolTip(downloadText);
        } else if (statusKnown) {
            item->setIcon(blank);
        }
        items->appendRow(item);
    }
    ++menuBuilds_;
    // The open list may be wider than the button, so no title is cut off.
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
}

void VersionPopUp::describeMarks() {
    // The fingerprint does not change with the interface language; the
    // description of the marks does.
    const QString downloadText = QString::fromStdString(L10n::text("Download required"));
    auto* items = static_cast<QStandardItemModel*>(model());
    for (int row = 0; row < items->rowCount(); ++row) {
        QStandardItem* item = items->item(row);
        const QVariant shown = item->data(Qt::AccessibleDescriptionRole);
        if (shown.isValid() && shown.toString() != downloadText) {
            item->setData(downloadText, Qt::AccessibleDescriptionRole);
            item->setToolTip(downloadText);
        }
    }
}

void VersionPopUp::showChoice(const std::vector<BrewPackage>& options,
                              const std::string& selection) {
    const QVariant shown = currentData(Qt::UserRole);
    if (shown.typeId() == QMetaType::QString && shown.toString().toStdString() == selection)
        return;
    int index = -1;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i].id == selection) {
            index = static_cast<int>(i);
            break;
        }
    }
    setCurrentIndex(index);
}

} // namespace vessora
