// The editable state of one showing of the new-environment sheet, with the
// rules that decide whether it can be created. Every setter stores and emits
// changed() when the value differs. Created with the defaults each time the
// sheet opens and gone when it closes; nothing of it is stored.
//
// The rules read the environments the model lists, so a list reloaded
// while the sheet is open changes the name and hostname checks at once.
#pragma once

#include "Vessora/Controls/LocalAddressField.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QObject>

#include <optional>
#include <string>
#include <vector>

namespace vessora {

class NewEnvironmentDraft : public QObject {
    Q_OBJECT

public:
    static constexpr std::size_t maximumNameCharacters = 80;

    // Plain values of one create request, taken when Create is pressed.
    struct Request {
        std::string name; // trimmed
        std::string php;
        std::string mariaDB;
        bool phpMyAdminEnabled = false;
        std::string webserver;
        bool httpsEnabled = false;
        std::optional<std::string> documentRoot;
        std::string databaseName;            // as typed
        std::optional<std::string> hostname; // as typed; the engine normalizes it
        bool virtualHost = false;
        bool standardPorts = false;
    };

    explicit NewEnvironmentDraft(QObject* parent = nullptr);

    const std::string& name() const { return name_; }
    const std::string& php() const { return php_; }
    const std::string& mariaDB() const { return mariaDB_; }
    bool phpMyAdminEnabled() const { return phpMyAdminEnabled_; }
    const std::string& webserver() const { return webserver_; }
    bool httpsEnabled() const { return httpsEnabled_; }
    const std::optional<std::string>& documentRoot() const { return documentRoot_; }
    const std::string& databaseName() const { return databaseName_; }
    const std::optional<std::string>& hostname() const { return hostname_; }
    bool virtualHost() const { return virtualHost_; }
    bool standardPorts() const { return standardPorts_; }
    LocalAddressField::Value localAddress() const;

    void setName(std::string name);
    void setPHP(std::string formula);
    void setMariaDB(std::string formula);
    void setPhpMyAdminEnabled(bool enabled);
    void setWebserver(std::string formula);
    void setHTTPSEnabled(bool enabled);
    void setDocumentRoot(std::optional<std::string> path);
    void setDatabaseName(std::string name);
    // The hostname field's three values at once.
    void setLocalAddress(const LocalAddressField::Value& value);

    // The name without surrounding white space and line breaks: what every
    // name rule tests and what the engine receives.
    std::string trimmedName() const;
    // Another environment's name equals the trimmed name, ignoring case and
    // diacritics.
    bool nameInUse(const std::vector<StackProfile>& profiles) const;
    // No hostname, or a valid local hostname no other environment has.
    bool validHostname(const std::vector<StackProfile>& profiles) const;
    bool validDatabaseName() const;
    // Every rule of the Create button, in order.
    bool canCreate(const std::vector<StackProfile>& profiles, bool busy) const;

    Request request() const;

signals:
    void changed();

private:
    template <typename Value>
    void assign(Value& field, Value value);

    std::string name_;
    std::string php_ = "php@8.4";
    std::string mariaDB_ = "mariadb@11.4";
    bool phpMyAdminEnabled_ = false;
    std::string webserver_ = "nginx";
    bool httpsEnabled_ = false;
    std::optional<std::string> documentRoot_;
    std::string databaseName_ = "vessora";
    std::optional<std::string> hostname_;
    bool virtualHost_ = false;
    bool standardPorts_ = false;
};

} // namespace vessora
