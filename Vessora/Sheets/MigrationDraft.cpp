#include "Vessora/Sheets/MigrationDraft.hpp"

#include "VessoraCore/Database/DatabaseCredentials.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <algorithm>
#include <exception>
#include <filesystem>

namespace vessora {

MigrationDraft::MigrationDraft(QObject* parent) : QObject(parent) {}

template <typename Value>
void MigrationDraft::assign(Value& field, Value value) {
    if (field == value)
        return;
    field = std::move(value);
    emit changed();
}

MigrationDraft::State MigrationDraft::state() const {
    if (result_)
        return State::finished;
    return importing_ ? State::importing : State::editing;
}

void MigrationDraft::setStep(int step) {
    assign(step_, step);
}
void MigrationDraft::setName(std::string name) {
    assign(name_, std::move(name));
}
void MigrationDraft::setFolder(std::optional<std::string> path) {
    assign(folder_, std::move(path));
}
void MigrationDraft::setPublicDirectory(std::string path) {
    assign(publicDirectory_, std::move(path));
}
void MigrationDraft::setMode(ProjectImportMode mode) {
    assign(mode_, mode);
}
void MigrationDraft::setDatabaseName(std::string name) {
    assign(databaseName_, std::move(name));
}
void MigrationDraft::setSQL(std::optional<std::string> path) {
    assign(sql_, std::move(path));
}
void MigrationDraft::setPHP(std::string formula) {
    assign(php_, std::move(formula));
}
void MigrationDraft::setMariaDB(std::string formula) {
    assign(mariaDB_, std::move(formula));
}
void MigrationDraft::setWebserver(std::string formula) {
    assign(webserver_, std::move(formula));
}
void MigrationDraft::setPhpMyAdmin(bool enabled) {
    assign(phpMyAdmin_, enabled);
}
void MigrationDraft::setHTTPS(bool enabled) {
    assign(https_, enabled);
}
void MigrationDraft::setInstallMissing(bool enabled) {
    assign(installMissing_, enabled);
}
void MigrationDraft::setImporting(bool importing) {
    assign(importing_, importing);
}
void MigrationDraft::setPhase(MigrationPhase phase) {
    assign(phase_, phase);
}
void MigrationDraft::setError(std::optional<std::string> text) {
    assign(error_, std::move(text));
}
void MigrationDraft::setConfirmCleanup(bool confirming) {
    assign(confirmCleanup_, confirming);
}

void MigrationDraft::finish(MigrationResult result) {
    result_ = std::move(result);
    importing_ = false;
    emit changed();
}

void MigrationDraft::fail(std::string text) {
    error_ = std::move(text);
    importing_ = false;
    emit changed();
}

void MigrationDraft::chooseFolder(const std::string& path) {
    // As a folder's address: without trailing slashes, except the root's.
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const bool blank = trimmedName().empty();
    folder_ = folder;
    if (blank)
        name_ = folder == "/" ? folder : std::filesystem::path(folder).filename().string();
    emit changed();
}

std::string MigrationDraft::trimmedName() const {
    return UnicodeText::trimmed(name_);
}

bool MigrationDraft::nameClashes(const std::vector<StackProfile>& profiles) const {
    const std::string key = UnicodeText::folded(trimmedName());
    return std::any_of(profiles.begin(), profiles.end(), [&](const StackProfile& profile) {
        return UnicodeText::folded(profile.name) == key;
    });
}

bool MigrationDraft::validDatabaseName() const {
    try {
        DatabaseName::validate(databaseName_);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> MigrationDraft::packages() const {
    std::vector<std::string> formulae{webserver_, php_, mariaDB_};
    if (phpMyAdmin_)
        formulae.emplace_back("phpmyadmin");
    return formulae;
}

std::vector<std::string>
MigrationDraft::missing(const std::map<std::string, bool>& installed) const {
    std::vector<std::string> absent;
    for (const std::string& formula : packages()) {
        const auto entry = installed.find(formula);
        if (entry == installed.end() || !entry->second)
            absent.push_back(formula);
    }
    return absent;
}

bool MigrationDraft::projectComplete(const std::vector<StackProfile>& profiles) const {
    const std::string name = trimmedName();
    return !name.empty() && UnicodeText::characterCount(name) <= maximumNameCharacters &&
           !nameClashes(profiles) && !UnicodeText::containsControl(name) && folder_.has_value() &&
           MigrationRequest::validRelativeDirectory(publicDirectory_);
}

bool MigrationDraft::runtimeComplete(const Context& context) const {
    if (!context.packageStatusKnown)
        return false;
    return missing(context.installed).empty() || (installMissing_ && !context.anyRunning);
}

bool MigrationDraft::canContinue(const Context& context) const {
    switch (step_) {
    case projectStep:
        return projectComplete(context.profiles);
    case databaseStep:
        return validDatabaseName();
    case runtimeStep:
        return runtimeComplete(context);
    default:
        return true;
    }
}

std::optional<MigrationRequest> MigrationDraft::request() const {
    if (!folder_)
        return std::nullopt;
    MigrationRequest request;
    request.name = trimmedName();
    request.projectFolder = *folder_;
    request.publicDirectory = publicDirectory_;
    request.mode = mode_;
    request.databaseName = databaseName_;
    if (sql_)
        request.sqlFile = *sql_;
    request.php = php_;
    request.mariaDB = mariaDB_;
    request.webserver = webserver_;
    request.phpMyAdminEnabled = phpMyAdmin_;
    request.httpsEnabled = https_;
    request.installMissingPackages = installMissing_;
    return request;
}

std::string MigrationDraft::runtimeSummary() const {
    const std::string separator = " \u00b7 ";
    std::string text = webserver_ + separator + php_ + separator + mariaDB_;
    if (https_)
        text += separator + "HTTPS";
    if (phpMyAdmin_)
        text += separator + "phpMyAdmin";
    return text;
}

std::vector<MigrationDraft::Row> MigrationDraft::reviewRows() const {
    return {
        {"Name", trimmedName()},
        {"Project", folder_.value_or("")},
        {"Project files", mode_ == ProjectImportMode::copy ? L10n::text("Copy into Vessora")
                                                           : L10n::text("Use existing folder")},
        {"Web folder", publicDirectory_.empty() ? "." : publicDirectory_},
        {"Database", databaseName_},
        {"SQL file", sql_ ? std::filesystem::path(*sql_).filename().string()
                          : L10n::text("None — empty database")},
        {"Runtime", runtimeSummary()},
    };
}

std::vector<MigrationDraft::Row> MigrationDraft::resultRows(const MigrationResult& result) {
    const StackProfile& profile = result.profile;
    std::vector<Row> rows{
        {"Name", profile.name},
        {"Host", "127.0.0.1:" + std::to_string(profile.databasePort)},
        {"Database", profile.databaseName},
        {"User", std::string(DatabaseCredentials::user)},
    };
    if (result.report.tableCount)
        rows.push_back({"Tables and views", std::to_string(*result.report.tableCount)});
    return rows;
}

} // namespace vessora
