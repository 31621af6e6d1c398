// The inventory query and the decoding of its output into a snapshot.
#include "VessoraCore/Database/DatabaseAdmin.hpp"

#include "VessoraCore/Database/DatabaseAccountName.hpp"
#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace vessora {

namespace {

constexpr std::string_view applicationName = "vessora";
constexpr std::string_view applicationHost = "127.0.0.1";

// One output line of the inventory. Absent and null keys stay empty; other
// keys are ignored.
struct Record {
    std::string kind;
    std::optional<std::string> name;
    std::optional<std::string> host;
    std::optional<std::string> grantee;
    std::optional<std::string> database;
    std::optional<std::string> privilege;
    std::optional<std::int64_t> grantable;
    std::optional<std::int64_t> tables;
    std::optional<std::string> collation;
};

Record decodeRecord(std::string_view line) {
    const nlohmann::json json = JsonFields::parse(line);
    JsonFields::requireObject(json, "inventory line");
    return Record{
        JsonFields::requiredString(json, "kind"),     JsonFields::optionalString(json, "name"),
        JsonFields::optionalString(json, "host"),     JsonFields::optionalString(json, "grantee"),
        JsonFields::optionalString(json, "database"), JsonFields::optionalString(json, "privilege"),
        JsonFields::optionalInt(json, "grantable"),   JsonFields::optionalInt(json, "tables"),
        JsonFields::optionalString(json, "collation")};
}

// The grantee text MariaDB's privilege tables use; quotes inside are not
// doubled there either.
std::string grantee(const std::string& name, const std::string& host) {
    return "'" + name + "'@'" + host + "'";
}

// The database a grant's stored schema text names exactly: the escaped form
// of a name the database-name rule accepts; nothing for a pattern.
std::optional<std::string> exactDatabase(const std::string& schema) {
    std::string name;
    for (std::size_t index = 0; index < schema.size(); ++index) {
        if (schema[index] == '\\' && index + 1 < schema.size() && schema[index + 1] == '_')
            ++index;
        name += schema[index];
    }
    if (SQLQuoting::escapedSchema(name) != schema ||
        !ManagedDatabase{name}.supportsNativeManagement())
        return std::nullopt;
    return name;
}

} // namespace

const std::string& DatabaseAdmin::inventoryQuery() {
    static const std::string query =
        // Schema names compare as bytes: information_schema's collation
        // ignores case, so Case_db would count case_db's tables. A join, not a
        // correlated subquery, whose result cache keys on that collation too.
        "SELECT JSON_OBJECT('kind','database','name',s.SCHEMA_NAME,'collation',"
        "s.DEFAULT_COLLATION_NAME,'tables',COALESCE(c.table_count,0))\n"
        "  FROM information_schema.SCHEMATA s LEFT JOIN (SELECT CAST(TABLE_SCHEMA AS BINARY) AS "
        "schema_bytes,COUNT(*) AS table_count FROM information_schema.TABLES GROUP BY "
        "schema_bytes) c ON c.schema_bytes=CAST(s.SCHEMA_NAME AS BINARY)\n"
        "  WHERE s.SCHEMA_NAME NOT IN "
        "('mysql','information_schema','performance_schema','sys','vessora_internal') ORDER BY "
        "s.SCHEMA_NAME,CAST(s.SCHEMA_NAME AS BINARY);\n"
        "SELECT JSON_OBJECT('kind','user','name',User,'host',Host) FROM mysql.user ORDER BY "
        "User,Host;\n"
        "SELECT JSON_OBJECT('kind','grant','grantee',GRANTEE,'database',TABLE_SCHEMA,'privilege',"
        "PRIVILEGE_TYPE,'grantable',IF(IS_GRANTABLE='YES',1,0)) FROM "
        "information_schema.SCHEMA_PRIVILEGES;\n"
        "SELECT JSON_OBJECT('kind','advanced','grantee',GRANTEE) FROM "
        "information_schema.USER_PRIVILEGES WHERE PRIVILEGE_TYPE <> 'USAGE' OR "
        "IS_GRANTABLE='YES';\n"
        "SELECT JSON_OBJECT('kind','advanced','name',User,'host',Host) FROM mysql.user WHERE "
        "plugin NOT IN ('','mysql_native_password');\n"
        "SELECT JSON_OBJECT('kind','advanced','grantee',GRANTEE) FROM "
        "information_schema.TABLE_PRIVILEGES\n"
        "  WHERE NOT (GRANTEE=" +
        SQLQuoting::stringLiteral(SQLQuoting::accountLiteral(applicationName, applicationHost)) +
        " AND TABLE_SCHEMA='vessora_internal' AND TABLE_NAME='setup_identity' AND "
        "PRIVILEGE_TYPE='SELECT' AND IS_GRANTABLE='NO');\n"
        "SELECT JSON_OBJECT('kind','advanced','grantee',GRANTEE) FROM "
        "information_schema.COLUMN_PRIVILEGES;\n"
        "SELECT JSON_OBJECT('kind','advanced','name',User,'host',Host) FROM mysql.procs_priv;\n"
        "SELECT JSON_OBJECT('kind','advanced','name',User,'host',Host) FROM "
        "mysql.roles_mapping;\n"
        "SELECT JSON_OBJECT('kind','advanced','name',User,'host',Host) FROM mysql.proxies_priv;";
    return query;
}

std::vector<std::string_view> DatabaseAdmin::outputLines(std::string_view output) {
    std::vector<std::string_view> lines;
    while (!output.empty()) {
        const std::size_t end = output.find('\n');
        if (end != 0)
            lines.push_back(output.substr(0, end));
        if (end == std::string_view::npos)
            break;
        output.remove_prefix(end + 1);
    }
    return lines;
}

DatabaseAdminSnapshot DatabaseAdmin::decode(std::string_view output, const StackProfile& profile,
                                            std::string_view administrator) {
    std::vector<Record> records;
    for (const std::string_view line : outputLines(output))
        records.push_back(decodeRecord(line));
    DatabaseAdminSnapshot snapshot;

    std::set<std::string> manageable;
    for (const Record& record : records) {
        if (record.kind != "database" || !record.name)
            continue;
        ManagedDatabase database{*record.name, record.tables.value_or(0),
                                 record.collation.value_or(""),
                                 *record.name == profile.databaseName};
        if (database.supportsNativeManagement())
            manageable.insert(database.name);
        snapshot.databases.push_back(std::move(database));
    }

    std::set<std::string> advanced;
    for (const Record& record : records) {
        if (record.kind != "advanced")
            continue;
        if (record.grantee)
            advanced.insert(*record.grantee);
        else if (record.name && record.host)
            advanced.insert(grantee(*record.name, *record.host));
    }

    std::map<std::string, std::map<std::string, std::set<std::string>>> privileges;
    for (const Record& record : records) {
        if (record.kind != "grant" || !record.grantee || !record.database || !record.privilege)
            continue;
        const std::optional<std::string> name = exactDatabase(*record.database);
        if (!name || record.grantable == 1)
            // A wildcard pattern, an unescaped "_", a schema the rule refuses
            // or the right to pass access on: not ours.
            advanced.insert(*record.grantee);
        // MariaDB keeps a dropped database's grants: on a name no database
        // has, such a grant opens nothing.
        if (name && manageable.count(*name) != 0)
            privileges[*record.grantee][*name].insert(*record.privilege);
    }

    for (const Record& record : records) {
        if (record.kind != "user" || !record.name || !record.host)
            continue;
        DatabaseAccount account;
        account.name = *record.name;
        account.host = *record.host;
        account.isApplication = account.name == applicationName && account.host == applicationHost;
        const std::string key = grantee(account.name, account.host);
        account.canEdit = account.host == applicationHost &&
                          DatabaseAccountName::matchesPattern(account.name) &&
                          (account.isApplication ||
                           !DatabaseAccountName::reserved(account.name, administrator)) &&
                          advanced.count(key) == 0;
        if (const auto entry = privileges.find(key); entry != privileges.end())
            account.privileges = entry->second;
        snapshot.users.push_back(std::move(account));
    }
    return snapshot;
}

} // namespace vessora
