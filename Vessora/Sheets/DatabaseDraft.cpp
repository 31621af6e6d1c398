#include "Vessora/Sheets/DatabaseDraft.hpp"

#include "Vessora/Sheets/DatabaseSheetText.hpp"

namespace vessora {

DatabaseDraft::DatabaseDraft(AppModel& model, StackProfile profile, QObject* parent)
    : QObject(parent), model_(model), profile_(std::move(profile)) {}

void DatabaseDraft::setPassword(std::string password) {
    assign(password_, std::move(password));
}

void DatabaseDraft::setConfirmation(std::string confirmation) {
    assign(confirmation_, std::move(confirmation));
}

bool DatabaseDraft::running() const {
    const auto status = model_.statuses().find(profile_.id);
    return status != model_.statuses().end() && !status->second.processes.empty();
}

bool DatabaseDraft::edited() const {
    return original_ && !DatabaseSheetText::same(password_, *original_);
}

bool DatabaseDraft::canEditPassword() const {
    return original_ && !running() && !busy_ && !model_.busy();
}

bool DatabaseDraft::canEditConfirmation() const {
    return !running() && !busy_ && !model_.busy();
}

bool DatabaseDraft::canCopyPassword() const {
    return original_ && !busy_ && !edited();
}

bool DatabaseDraft::canSave() const {
    return edited() && !running() && !model_.busy() && !busy_ && !password_.empty() &&
           DatabaseSheetText::same(password_, confirmation_);
}

void DatabaseDraft::load() {
    const std::shared_ptr<AppEngine> engine = model_.engine();
    if (!engine)
        return;
    model_.workers().run(
        this, [engine, id = profile_.id] { return engine->databaseCredentials(id); },
        [this](const DatabaseCredentials& credentials) {
            assign(original_, std::optional(credentials.password));
            assign(password_, credentials.password);
        },
        [this](const std::string& text) { assign(error_, std::optional(text)); });
}

void DatabaseDraft::save() {
    const std::shared_ptr<AppEngine> engine = model_.engine();
    if (!engine || !canSave())
        return;
    assign(busy_, true);
    assign(error_, std::optional<std::string>());
    model_.workers().run(
        this,
        [engine, id = profile_.id, password = password_] {
            engine->setDatabasePassword(id, password);
        },
        [this, password = password_] {
            assign(original_, std::optional(password));
            assign(confirmation_, std::string());
            assign(saved_, true);
            assign(busy_, false);
        },
        [this](const std::string& text) {
            assign(error_, std::optional(text));
            assign(busy_, false);
        });
}

} // namespace vessora
