#include "Vessora/Windows/EditorActionBar.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/EditorStyle.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

QHBoxLayout* barLayout(QWidget* bar) {
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return layout;
}

QLabel* caption(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    FormStyle::makeCaption(label);
    FormStyle::makeSecondary(label);
    return label;
}

} // namespace

EditorActionBar::EditorActionBar(const EditorState& state, QWidget* parent)
    : QWidget(parent), state_(state), saveBar_(new QWidget(this)), save_(new QPushButton(saveBar_)),
      discard_(new QPushButton(saveBar_)), unsaved_(caption(saveBar_, "unsavedLabel")),
      seriesNote_(caption(this, "seriesNote")), installBar_(new QWidget(this)),
      install_(new QPushButton(installBar_)),
      installCaption_(caption(installBar_, "installCaption")) {
    setObjectName("editorActionBar");
    saveBar_->setObjectName("saveBar");
    save_->setObjectName("saveButton");
    FormStyle::makeSmall(save_);
    FormStyle::makeProminent(save_);
    discard_->setObjectName("discardButton");
    discard_->setAutoDefault(false);
    FormStyle::makeSmall(discard_);
    FormStyle::makeWrapping(seriesNote_);
    installBar_->setObjectName("installBar");
    install_->setObjectName("installButton");
    EditorStyle::setButtonIcon(install_, "go-bottom", palette().color(QPalette::ButtonText));
    install_->setAutoDefault(false);
    FormStyle::makeSmall(install_);
    FormStyle::makeWrapping(installCaption_);

    QHBoxLayout* saveRow = barLayout(saveBar_);
    saveRow->addWidget(save_);
    saveRow->addWidget(discard_);
    saveRow->addStretch(1);
    saveRow->addWidget(unsaved_);

    QHBoxLayout* installRow = barLayout(installBar_);
    installRow->addWidget(install_);
    installRow->addWidget(installCaption_, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(saveBar_);
    column->addWidget(seriesNote_);
    column->addWidget(installBar_);

    connect(save_, &QPushButton::clicked, this, &EditorActionBar::save);
    connect(discard_, &QPushButton::clicked, this, &EditorActionBar::discard);
    connect(install_, &QPushButton::clicked, this, &EditorActionBar::install);
}

EditorActionBar::Bar EditorActionBar::chosen(const EditorState& state) {
    if (state.unsaved())
        return Bar::save;
    if (state.model().packageStatusKnown() && !state.ready())
        return Bar::install;
    return Bar::none;
}

void EditorActionBar::render() {
    const Bar bar = chosen(state_);
    const AppModel& model = state_.model();
    saveBar_->setVisible(bar == Bar::save);
    seriesNote_->setVisible(bar == Bar::save &&
                            state_.draft().profile().mariaDB != state_.saved().mariaDB);
    installBar_->setVisible(bar == Bar::install);
    setVisible(bar != Bar::none);

    save_->setText(toQt(L10n::text("Save changes")));
    save_->setEnabled(!state_.disabled());
    discard_->setText(toQt(L10n::text("Discard")));
    discard_->setEnabled(!model.busy());
    unsaved_->setText(toQt(L10n::text("Unsaved changes")));
    seriesNote_->setText(toQt(L10n::text("Each MariaDB series uses its own database. Existing "
                                         "data stays available when you switch back.")));

    const bool anyRunning = model.anyRunning();
    install_->setText(toQt(L10n::text("Install packages")));
    install_->setEnabled(!model.busy() && !anyRunning && model.hasEngine());
    installCaption_->setText(anyRunning
                                 ? toQt(L10n::text("Stop all environments before installing."))
                                 : toQt(L10n::text("Download the missing packages to start.")));
}

void EditorActionBar::save() {
    if (state_.disabled() || !state_.unsaved())
        return;
    // The record as it stands now; later edits belong to the next save.
    const StackProfile record = state_.draft().profile();
    state_.model().perform(L10n::text("Saving environment…"), true,
                           [record](AppEngine& engine) { engine.update(record); });
}

void EditorActionBar::discard() {
    if (state_.model().busy())
        return;
    state_.draft().setProfile(state_.saved());
}

void EditorActionBar::install() {
    const AppModel& model = state_.model();
    if (model.busy() || model.anyRunning() || !model.hasEngine())
        return;
    const StackProfile& saved = state_.saved();
    const std::string id = saved.id;
    state_.model().perform(L10n::text("Installing packages for %@…", {saved.name}), true,
                           [id](AppEngine& engine) { engine.install(id); });
}

} // namespace vessora
