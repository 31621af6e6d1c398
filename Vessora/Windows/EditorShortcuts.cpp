#include "Vessora/Windows/EditorShortcuts.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/EditorStyle.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QPushButton>

#include <system_error>

namespace vessora {

EditorShortcuts::EditorShortcuts(const EditorState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName("editorShortcuts");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    openSite_ = addButton("openSiteButton", "web-browser");
    project_ = addButton("projectButton", "folder");
    logs_ = addButton("logsButton", "text-x-generic");
    databases_ = addButton("databasesButton", "drive-harddisk");
    importReport_ = addButton("importReportButton", "edit-find");
    phpMyAdmin_ = addButton("phpMyAdminButton", "network-server");
    row->addStretch(1);

    connect(openSite_, &QPushButton::clicked, this, [this] {
        const StackProfile& saved = state_.saved();
        DesktopOpening::openURL(this, saved.httpsURL().value_or(saved.url()));
    });
    connect(project_, &QPushButton::clicked, this, [this] { reveal(state_.savedPaths().web()); });
    connect(logs_, &QPushButton::clicked, this, [this] { reveal(state_.savedPaths().logs()); });
    connect(databases_, &QPushButton::clicked, this, [this] {
        if (!state_.model().busy())
            state_.draft().setShowDatabase(true);
    });
    connect(importReport_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openPath(this, state_.savedPaths().migrationReport()); });
    connect(phpMyAdmin_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openURL(this, state_.saved().phpMyAdminURL()); });
}

QPushButton* EditorShortcuts::addButton(const char* objectName, const char* icon) {
    auto* button = new QPushButton(this);
    button->setObjectName(objectName);
    EditorStyle::setButtonIcon(button, icon, palette().color(QPalette::ButtonText));
    button->setAutoDefault(false);
    FormStyle::makeSmall(button);
    layout()->addWidget(button);
    return button;
}

void EditorShortcuts::reveal(const std::filesystem::path& folder) {
    std::error_code error;
    const bool present = std::filesystem::exists(folder, error);
    DesktopOpening::openPath(this, present ? folder : state_.dataRoot());
}

void EditorShortcuts::render() {
    const StackProfile& saved = state_.saved();
    const bool running = state_.status().running;

    openSite_->setText(toQt(L10n::text("Open site")));
    openSite_->setEnabled(running);
    project_->setText(toQt(L10n::text("Project")));
    logs_->setText(toQt(L10n::text("Logs")));
    databases_->setText(toQt(L10n::text("Databases")));
    databases_->setEnabled(!state_.model().busy());

    std::error_code error;
    importReport_->setText(toQt(L10n::text("Import report")));
    importReport_->setVisible(
        std::filesystem::exists(state_.savedPaths().migrationReport(), error));

    phpMyAdmin_->setText(toQt(L10n::text("phpMyAdmin")));
    phpMyAdmin_->setVisible(saved.phpMyAdminEnabled);
    phpMyAdmin_->setEnabled(running && !state_.unsaved());
}

} // namespace vessora
