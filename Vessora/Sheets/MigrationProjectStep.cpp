#include "Vessora/Sheets/MigrationProjectStep.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vessora {

namespace Style = MigrationSheetStyle;

MigrationProjectStep::MigrationProjectStep(AppModel& model, MigrationDraft& draft, QWidget* parent)
    : QWidget(parent), model_(model), draft_(draft) {
    QVBoxLayout* column = Style::column(this);
    QGridLayout* form = Style::form(column);
    nameTitle_ = Style::rowTitle(this, "nameTitle");
    name_ = Style::lineEdit(this, "nameField");
    Style::addRow(form, nameTitle_, name_);
    folderTitle_ = Style::rowTitle(this, "folderTitle");
    choose_ = Style::button(this, "chooseFolderButton");
    choose_->setIcon(Icons::symbolic("folder", palette().color(QPalette::ButtonText)));
    auto* chooseRow = new QHBoxLayout;
    chooseRow->addWidget(choose_);
    chooseRow->addStretch(1);
    Style::addRow(form, folderTitle_, chooseRow);
    folder_ = Style::pathLine(this, "folderPath");
    Style::addRow(form, nullptr, folder_);

    auto* modes = new QHBoxLayout;
    modes->setSpacing(12);
    modeTitle_ = Style::rowTitle(this, "modeTitle");
    existing_ = new QRadioButton(this);
    existing_->setObjectName("existingModeButton");
    copy_ = new QRadioButton(this);
    copy_->setObjectName("copyModeButton");
    FormStyle::makeSmall(existing_);
    FormStyle::makeSmall(copy_);
    modes_ = new QButtonGroup(this);
    modes_->addButton(existing_);
    modes_->addButton(copy_);
    modes->addWidget(existing_);
    modes->addWidget(copy_);
    modes->addStretch(1);
    Style::addRow(form, modeTitle_, modes);
    modeNote_ = Style::caption(this, "modeNote");
    Style::addRow(form, nullptr, modeNote_);

    publicTitle_ = Style::rowTitle(this, "publicDirectoryTitle");
    publicDirectory_ = Style::lineEdit(this, "publicDirectoryField");
    Style::addRow(form, publicTitle_, publicDirectory_);
    publicNote_ = Style::caption(this, "publicDirectoryNote");
    Style::addRow(form, nullptr, publicNote_);
    nameInUse_ = Style::warning(this, "nameInUseMessage");
    column->addWidget(nameInUse_);

    connect(name_, &QLineEdit::textEdited, &draft_,
            [this](const QString& text) { draft_.setName(fromQt(text)); });
    connect(publicDirectory_, &QLineEdit::textEdited, &draft_,
            [this](const QString& text) { draft_.setPublicDirectory(fromQt(text)); });
    connect(existing_, &QRadioButton::clicked, &draft_,
            [this] { draft_.setMode(ProjectImportMode::existing); });
    connect(copy_, &QRadioButton::clicked, &draft_,
            [this] { draft_.setMode(ProjectImportMode::copy); });
    connect(choose_, &QPushButton::clicked, this, &MigrationProjectStep::chooseFolder);
}

void MigrationProjectStep::render() {
    nameTitle_->setText(toQt(L10n::text("Name")));
    folderTitle_->setText(toQt(L10n::text("Project")));
    publicTitle_->setText(toQt(L10n::text("Web folder")));
    DatabaseSheetStyle::syncText(name_, draft_.name());
    name_->setPlaceholderText(toQt(L10n::text("Environment name")));
    name_->setAccessibleName(toQt(L10n::text("Environment name")));
    choose_->setText(DatabaseSheetStyle::buttonText(L10n::text("Choose project folder…")));
    folder_->setVisible(draft_.folder().has_value());
    folder_->setFullText(toQt(draft_.folder().value_or("")));

    modeTitle_->setText(toQt(L10n::text("Project files")));
    existing_->setText(toQt(L10n::text("Use existing folder")));
    copy_->setText(toQt(L10n::text("Copy into Vessora")));
    const bool copying = draft_.mode() == ProjectImportMode::copy;
    {
        const QSignalBlocker blockExisting(existing_);
        const QSignalBlocker blockCopy(copy_);
        existing_->setChecked(!copying);
        copy_->setChecked(copying);
    }
    modeNote_->setText(
        copying ? toQt(L10n::text("The complete project is copied. The source stays unchanged; "
                                  "the managed copy is removed with the environment."))
                : toQt(L10n::text("The environment uses your folder directly. Vessora keeps it "
                                  "when the environment is deleted.")));

    DatabaseSheetStyle::syncText(publicDirectory_, draft_.publicDirectory());
    publicDirectory_->setPlaceholderText(
        toQt(L10n::text("Public subdirectory (optional, e.g. public)")));
    publicDirectory_->setAccessibleName(publicDirectory_->placeholderText());
    publicNote_->setText(toQt(L10n::text("Leave empty to serve the project folder itself. Use a "
                                         "relative subdirectory for frameworks such as Laravel.")));
    nameInUse_->setText(toQt(L10n::text("This name is already in use.")));
    nameInUse_->setVisible(draft_.nameClashes(model_.profiles()));
}

void MigrationProjectStep::chooseFolder() {
    // The chooser answers later; the draft may be gone by then.
    QPointer<MigrationDraft> draft(&draft_);
    FileChooser::current().chooseFolder(window(), toQt(L10n::text("Choose project folder…")),
                                        draft_.folder(),
                                        [draft](std::optional<std::filesystem::path> chosen) {
                                            if (draft && chosen)
                                                draft->chooseFolder(chosen->string());
                                        });
}

} // namespace vessora
