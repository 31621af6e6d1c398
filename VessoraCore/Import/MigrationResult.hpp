// What a project import hands back: the new environment's record as stored
// and the report that was also written to its "migration-report.json". A
// report whose `succeeded` is false means the environment exists, stopped,
// and the import did not finish.
#pragma once

#include "VessoraCore/Records/MigrationReport.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

namespace vessora {

struct MigrationResult {
    StackProfile profile;
    MigrationReport report;
};

} // namespace vessora
