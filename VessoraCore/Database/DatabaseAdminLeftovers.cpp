// The grants MariaDB keeps after DROP DATABASE, and the statements that
// remove them before a database of that name is created again.
#include "VessoraCore/Database/DatabaseAdmin.hpp"

#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"

namespace vessora {

namespace {

// The grantee of a privilege-table row: a role (PUBLIC included) has no host.
std::string grantee(const nlohmann::json& row) {
    const std::string name = JsonFields::requiredString(row, "name");
    const std::string host = JsonFields::requiredString(row, "host");
    return host.empty() ? SQLQuoting::stringLiteral(name) : SQLQuoting::accountLiteral(name, host);
}

// The object a row grants on: the database itself (under its escaped
// pattern), one of its tables with their columns, or one of its routines.
std::string object(const nlohmann::json& row, const std::string& database) {
    if (const auto table = JsonFields::optionalString(row, "table"))
        return SQLQuoting::identifier(database) + "." + SQLQuoting::identifier(*table);
    if (const auto routine = JsonFields::optionalString(row, "routine"))
        return JsonFields::requiredString(row, "type") + " " + SQLQuoting::identifier(database) +
               "." + SQLQuoting::identifier(*routine);
    return SQLQuoting::grantPattern(database) + ".*";
}

} // namespace

std::string DatabaseAdmin::leftoverGrantsQuery(const std::string& database) {
    // Binary comparisons: a grant on Shop_db or on the pattern shop_db
    // (which also opens shopXdb) is not a leftover of shop_db. A row whose
    // account is gone (a hand-edited privilege table) opens nothing and
    // cannot be revoked.
    const auto rows = [](const std::string& columns, const std::string& table,
                         const std::string& schema, const std::string& condition) {
        return "SELECT JSON_OBJECT('name',p.User,'host',p.Host," + columns + ") FROM mysql." +
               table + " p WHERE BINARY p.Db=" + SQLQuoting::stringLiteral(schema) + condition +
               " AND EXISTS (SELECT 1 FROM mysql.user u WHERE u.User=p.User AND u.Host=p.Host);";
    };
    return rows("'grant',IF(p.Grant_priv='Y',1,0)", "db", SQLQuoting::escapedSchema(database), "") +
           "\n" +
           rows("'table',p.Table_name,'grant',IF(FIND_IN_SET('Grant',p.Table_priv)>0,1,0)",
                "tables_priv", database, "") +
           "\n" +
           rows("'routine',p.Routine_name,'type',p.Routine_type,'grant',"
                "IF(FIND_IN_SET('Grant',p.Proc_priv)>0,1,0)",
                "procs_priv", database, " AND p.Routine_type IN ('FUNCTION','PROCEDURE')");
}

std::string DatabaseAdmin::leftoverRevokes(std::string_view output, const std::string& database) {
    std::string statements;
    for (const std::string_view line : outputLines(output)) {
        const nlohmann::json row = JsonFields::parse(line);
        JsonFields::requireObject(row, "stored grant");
        const std::string target = object(row, database);
        const std::string from = grantee(row);
        statements += "\nREVOKE ALL PRIVILEGES ON " + target + " FROM " + from + ";";
        // ALL PRIVILEGES leaves the grant option and with it the row.
        if (JsonFields::optionalInt(row, "grant") == 1)
            statements += "\nREVOKE GRANT OPTION ON " + target + " FROM " + from + ";";
    }
    return statements;
}

} // namespace vessora
