#include "Vessora/Sheets/NewEnvironmentDraft.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <algorithm>
#include <exception>

namespace vessora {

NewEnvironmentDraft::NewEnvironmentDraft(QObject* parent) : QObject(parent) {}

template <typename Value>
void NewEnvironmentDraft::assign(Value& field, Value value) {
    if (field == value)
        return;
    field = std::move(value);
    emit changed();
}

LocalAddressField::Value NewEnvironmentDraft::localAddress() const {
    return {hostname_, virtualHost_, standardPorts_};
}

void NewEnvironmentDraft::setName(std::string name) {
    assign(name_, std::move(name));
}
void NewEnvironmentDraft::setPHP(std::string formula) {
    assign(php_, std::move(formula));
}
void NewEnvironmentDraft::setMariaDB(std::string formula) {
    assign(mariaDB_, std::move(formula));
}
void NewEnvironmentDraft::setPhpMyAdminEnabled(bool enabled) {
    assign(phpMyAdminEnabled_, enabled);
}
void NewEnvironmentDraft::setWebserver(std::string formula) {
    assign(webserver_, std::move(formula));
}
void NewEnvironmentDraft::setHTTPSEnabled(bool enabled) {
    assign(httpsEnabled_, enabled);
}
void NewEnvironmentDraft::setDocumentRoot(std::optional<std::string> path) {
    assign(documentRoot_, std::move(path));
}
void NewEnvironmentDraft::setDatabaseName(std::string name) {
    assign(databaseName_, std::move(name));
}

void NewEnvironmentDraft::setLocalAddress(const LocalAddressField::Value& value) {
    if (value == localAddress())
        return;
    hostname_ = value.hostname;
    virtualHost_ = value.virtualHost;
    standardPorts_ = value.standardPorts;
    emit changed();
}

std::string NewEnvironmentDraft::trimmedName() const {
    return UnicodeText::trimmed(name_);
}

bool NewEnvironmentDraft::nameInUse(const std::vector<StackProfile>& profiles) const {
    const std::string key = UnicodeText::folded(trimmedName());
    return std::any_of(profiles.begin(), profiles.end(), [&](const StackProfile& profile) {
        return UnicodeText::folded(profile.name) == key;
    });
}

bool NewEnvironmentDraft::validHostname(const std::vector<StackProfile>& profiles) const {
    const auto normalized = LocalHostname::normalized(hostname_);
    if (!normalized)
        return true;
    try {
        LocalHostname::validate(*normalized);
    } catch (const std::exception&) {
        return false;
    }
    return std::none_of(profiles.begin(), profiles.end(), [&](const StackProfile& profile) {
        return profile.hostname == normalized;
    });
}

bool NewEnvironmentDraft::validDatabaseName() const {
    try {
        DatabaseName::validate(databaseName_);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool NewEnvironmentDraft::canCreate(const std::vector<StackProfile>& profiles, bool busy) const {
    const std::string name = trimmedName();
    return !name.empty() && UnicodeText::characterCount(name) <= maximumNameCharacters &&
           !nameInUse(profiles) && validDatabaseName() && validHostname(profiles) && !busy &&
           !UnicodeText::containsControl(name);
}

NewEnvironmentDraft::Request NewEnvironmentDraft::request() const {
    return {trimmedName(), php_,          mariaDB_,      phpMyAdminEnabled_,
            webserver_,    httpsEnabled_, documentRoot_, databaseName_,
            hostname_,     virtualHost_,  standardPorts_};
}

} // namespace vessora
