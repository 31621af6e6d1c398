// Carries what a running import reports from the engine's worker to the
// wizard's draft on the main thread. Each report is posted, never waited
// for, to the application object, so reports arrive in the order they were
// made (phases, then the result or the failure); each is applied only while
// the draft still exists. A plain value: build it on the main thread and
// copy it into the import's action.
#pragma once

#include "VessoraCore/Import/MigrationPhase.hpp"
#include "VessoraCore/Import/MigrationResult.hpp"

#include <QPointer>

#include <functional>
#include <string>

namespace vessora {

class MigrationDraft;

class MigrationRelay {
public:
    explicit MigrationRelay(MigrationDraft& draft);

    // Callable from any thread; each returns at once.
    void phase(MigrationPhase phase) const;
    void finished(MigrationResult result) const;
    void failed(std::string text) const;

private:
    void post(std::function<void(MigrationDraft&)> apply) const;

    QPointer<MigrationDraft> draft_;
};

} // namespace vessora
