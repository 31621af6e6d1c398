#include "VessoraCore/Records/MigrationReport.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"

namespace vessora {

nlohmann::json MigrationReport::toJSON() const {
    nlohmann::json json = nlohmann::json::object();
    json["environmentID"] = environmentID;
    json["environmentName"] = environmentName;
    json["sourceProject"] = sourceProject;
    json["publicDirectory"] = publicDirectory;
    json["mode"] = rawValue(mode);
    json["databaseName"] = databaseName;
    if (sqlFileName) {
        json["sqlFileName"] = *sqlFileName;
    }
    if (sourceDatabase) {
        json["sourceDatabase"] = *sourceDatabase;
    }
    json["sqlStatements"] = sqlStatements;
    if (tableCount) {
        json["tableCount"] = *tableCount;
    }
    json["succeeded"] = succeeded;
    json["message"] = message;
    json["createdAt"] = ReferenceDate::seconds(createdAt);
    json["php"] = php;
    json["mariaDB"] = mariaDB;
    json["webserver"] = webserver;
    return json;
}

MigrationReport MigrationReport::fromJSON(const nlohmann::json& json) {
    JsonFields::requireObject(json, "import report");
    MigrationReport report;
    report.environmentID = JsonFields::requiredString(json, "environmentID");
    report.environmentName = JsonFields::requiredString(json, "environmentName");
    report.sourceProject = JsonFields::requiredString(json, "sourceProject");
    report.publicDirectory = JsonFields::requiredString(json, "publicDirectory");
    std::string mode = JsonFields::requiredString(json, "mode");
    auto parsedMode = projectImportMode(mode);
    if (!parsedMode) {
        throw JsonDecodingError("The value of “mode” is not a known import mode.");
    }
    report.mode = *parsedMode;
    report.databaseName = JsonFields::requiredString(json, "databaseName");
    report.sqlFileName = JsonFields::optionalString(json, "sqlFileName");
    report.sourceDatabase = JsonFields::optionalString(json, "sourceDatabase");
    report.sqlStatements = JsonFields::requiredInt(json, "sqlStatements");
    report.tableCount = JsonFields::optionalInt(json, "tableCount");
    report.succeeded = JsonFields::requiredBool(json, "succeeded");
    report.message = JsonFields::requiredString(json, "message");
    report.createdAt = ReferenceDate::date(JsonFields::requiredNumber(json, "createdAt"));
    report.php = JsonFields::requiredString(json, "php");
    report.mariaDB = JsonFields::requiredString(json, "mariaDB");
    report.webserver = JsonFields::requiredString(json, "webserver");
    return report;
}

void MigrationReport::save(const std::filesystem::path& file) const {
    // A project folder's name need not be UTF-8 on Linux; the report is read
    // by people, so such bytes are shown as U+FFFD rather than failing the
    // import. The private writer creates the file 0600 before any byte lands.
    std::string text = toJSON().dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    PrivateFile::write(file, text);
}

} // namespace vessora
