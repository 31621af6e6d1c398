// MigrationReport: the persisted account of one project import, stored as
// "migration-report.json" in the new environment's folder. The import writes
// it when it begins (not yet succeeded) and again with the outcome; the start
// check and the status poll read it to tell whether the import succeeded.
// fromJSON() requires every key but "sqlFileName", "sourceDatabase" and
// "tableCount" and refuses an unknown "mode"; "createdAt" is seconds since
// 2001-01-01 UTC. save() writes pretty-printed JSON with sorted keys,
// atomically, and leaves the file with mode 0600.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"
#include "VessoraCore/Import/ProjectImportMode.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vessora {

struct MigrationReport {
    std::string environmentID;
    std::string environmentName;
    std::string sourceProject;
    std::string publicDirectory;
    ProjectImportMode mode = ProjectImportMode::existing;
    std::string databaseName;
    std::optional<std::string> sqlFileName;
    std::optional<std::string> sourceDatabase;
    std::int64_t sqlStatements = 0;
    std::optional<std::int64_t> tableCount;
    bool succeeded = false;
    std::string message;
    Date createdAt = std::chrono::system_clock::now();
    std::string php;
    std::string mariaDB;
    std::string webserver;

    nlohmann::json toJSON() const;
    // Throws JsonDecodingError.
    static MigrationReport fromJSON(const nlohmann::json& json);

    // Write and permission errors pass through.
    void save(const std::filesystem::path& file) const;
};

} // namespace vessora
