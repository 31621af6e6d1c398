// The editable state of one showing of the project import wizard, with the
// rules of its four steps and what the running import reported. Created
// with the defaults each time the wizard opens and gone when it closes;
// nothing of it is stored. Every setter stores and emits changed() when the
// value differs.
//
// The step rules read what the application model holds (Context), so an
// environment list, package status or status poll that changes while the
// wizard is open changes them at once.
#pragma once

#include "VessoraCore/Import/MigrationPhase.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "VessoraCore/Import/MigrationResult.hpp"
#include "VessoraCore/Import/ProjectImportMode.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QObject>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class MigrationDraft : public QObject {
    Q_OBJECT

public:
    static constexpr int projectStep = 0;
    static constexpr int databaseStep = 1;
    static constexpr int runtimeStep = 2;
    static constexpr int reviewStep = 3;
    static constexpr std::size_t maximumNameCharacters = 80;

    // What the step rules read of the application model.
    struct Context {
        std::vector<StackProfile> profiles;
        std::map<std::string, bool> installed;
        bool packageStatusKnown = false;
        bool anyRunning = false;
    };

    // One line of the review or result grid: an English label key and a
    // value shown as it is.
    struct Row {
        std::string label;
        std::string value;
        bool operator==(const Row&) const = default;
    };

    // Derived from the draft: a result decides first, then importing.
    enum class State { editing, importing, finished };

    explicit MigrationDraft(QObject* parent = nullptr);

    int step() const { return step_; }
    const std::string& name() const { return name_; }
    const std::optional<std::string>& folder() const { return folder_; }
    const std::string& publicDirectory() const { return publicDirectory_; }
    ProjectImportMode mode() const { return mode_; }
    const std::string& databaseName() const { return databaseName_; }
    const std::optional<std::string>& sql() const { return sql_; }
    const std::string& php() const { return php_; }
    const std::string& mariaDB() const { return mariaDB_; }
    const std::string& webserver() const { return webserver_; }
    bool phpMyAdmin() const { return phpMyAdmin_; }
    bool https() const { return https_; }
    bool installMissing() const { return installMissing_; }
    bool importing() const { return importing_; }
    MigrationPhase phase() const { return phase_; }
    const std::optional<MigrationResult>& result() const { return result_; }
    const std::optional<std::string>& error() const { return error_; }
    bool confirmCleanup() const { return confirmCleanup_; }
    State state() const;

    void setStep(int step);
    void setName(std::string name);
    void setFolder(std::optional<std::string> path);
    void setPublicDirectory(std::string path);
    void setMode(ProjectImportMode mode);
    void setDatabaseName(std::string name);
    void setSQL(std::optional<std::string> path);
    void setPHP(std::string formula);
    void setMariaDB(std::string formula);
    void setWebserver(std::string formula);
    void setPhpMyAdmin(bool enabled);
    void setHTTPS(bool enabled);
    void setInstallMissing(bool enabled);
    void setImporting(bool importing);
    void setPhase(MigrationPhase phase);
    void setError(std::optional<std::string> text);
    void setConfirmCleanup(bool confirming);
    // The import returned: its result, and no longer importing.
    void finish(MigrationResult result);
    // The import threw: its text, and no longer importing (back to Review).
    void fail(std::string text);

    // A folder was chosen: it is kept, and a name that is still blank
    // becomes the folder's last component.
    void chooseFolder(const std::string& path);

    // The name without surrounding white space and line breaks: what the
    // rules test and what the import receives.
    std::string trimmedName() const;
    // Another environment's name equals the trimmed name, ignoring case and
    // diacritics.
    bool nameClashes(const std::vector<StackProfile>& profiles) const;
    bool validDatabaseName() const;
    // The formulae the import needs: web server, PHP, MariaDB, then
    // "phpmyadmin" when asked for.
    std::vector<std::string> packages() const;
    // Those of packages() that are not known to be installed.
    std::vector<std::string> missing(const std::map<std::string, bool>& installed) const;
    // Whether the current step is complete; the review always is.
    bool canContinue(const Context& context) const;
    bool projectComplete(const std::vector<StackProfile>& profiles) const;
    bool runtimeComplete(const Context& context) const;

    // The request for the engine; none while no folder is chosen. It
    // validates nothing: the engine does.
    std::optional<MigrationRequest> request() const;
    // The review's seven rows, values in the current language.
    std::vector<Row> reviewRows() const;
    // "nginx · php@8.4 · mariadb@11.4", then " · HTTPS", " · phpMyAdmin".
    std::string runtimeSummary() const;
    // The result's rows: name, host, database, user and, when the report
    // counted them, the tables.
    static std::vector<Row> resultRows(const MigrationResult& result);

signals:
    void changed();

private:
    template <typename Value>
    void assign(Value& field, Value value);

    int step_ = projectStep;
    std::string name_;
    std::optional<std::string> folder_;
    std::string publicDirectory_;
    ProjectImportMode mode_ = ProjectImportMode::existing;
    std::string databaseName_ = "vessora";
    std::optional<std::string> sql_;
    std::string php_ = "php@8.4";
    std::string mariaDB_ = "mariadb@11.4";
    std::string webserver_ = "nginx";
    bool phpMyAdmin_ = false;
    bool https_ = false;
    bool installMissing_ = false;
    bool importing_ = false;
    MigrationPhase phase_ = MigrationPhase::checking;
    std::optional<MigrationResult> result_;
    std::optional<std::string> error_;
    bool confirmCleanup_ = false;
};

} // namespace vessora
