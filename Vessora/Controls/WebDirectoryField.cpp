#include "Vessora/Controls/WebDirectoryField.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/ElidingButton.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QPointer>
#include <QToolButton>

#include <filesystem>

namespace vessora {

namespace {

// The name the button shows: the last component, also of "/srv/site/".
QString lastComponent(const std::string& path) {
    std::filesystem::path folder(path);
    auto name = folder.filename();
    if (name.empty())
        name = folder.parent_path().filename();
    return QString::fromStdString(name.empty() ? path : name.string());
}

} // namespace

WebDirectoryField::WebDirectoryField(AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), choose_(new ElidingButton(this)), reset_(new QToolButton(this)) {
    choose_->setObjectName("chooseWebDirectory");
    choose_->setIcon(Icons::named("folder"));
    choose_->setAutoDefault(false);
    choose_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    FormStyle::makeSmall(choose_);
    reset_->setObjectName("useDefaultFolder");
    reset_->setIcon(Icons::named("edit-undo"));
    reset_->setAutoRaise(true);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(choose_);
    row->addWidget(reset_);
    row->addStretch(1);

    connect(choose_, &QPushButton::clicked, this, &WebDirectoryField::choose);
    connect(reset_, &QToolButton::clicked, this, [this] { edit(std::nullopt); });
    connect(&preferences, &AppPreferences::changed, this, &WebDirectoryField::render);
    render();
}

void WebDirectoryField::setPath(std::optional<std::string> path) {
    if (path == path_)
        return;
    path_ = std::move(path);
    render();
}

void WebDirectoryField::render() {
    if (path_) {
        choose_->setText(lastComponent(*path_));
        choose_->setToolTip(QString::fromStdString(*path_));
    } else {
        choose_->setText(toQt(L10n::text("Default folder")));
        choose_->setToolTip(toQt(
            L10n::text("Choose an existing project folder, or keep Vessora’s managed folder.")));
    }
    choose_->setAccessibleName(toQt(L10n::text("Choose web directory")));
    reset_->setToolTip(toQt(L10n::text("Use default folder")));
    reset_->setAccessibleName(toQt(L10n::text("Use default folder")));
    reset_->setVisible(path_.has_value());
    choose_->updateGeometry();
    choose_->update();
}

void WebDirectoryField::choose() {
    std::optional<std::filesystem::path> start;
    if (path_)
        start = std::filesystem::path(*path_);
    // The chooser answers later; this field may be gone by then.
    QPointer<WebDirectoryField> self(this);
    FileChooser::current().chooseFolder(
        window(), toQt(L10n::text("Choose web directory")), start,
        [self](std::optional<std::filesystem::path> chosen) {
            if (self && chosen)
                self->edit(chosen->string());
        },
        toQt(L10n::text("Choose folder")));
}

void WebDirectoryField::edit(std::optional<std::string> path) {
    if (path == path_)
        return;
    path_ = std::move(path);
    render();
    emit pathEdited();
}

} // namespace vessora
