#include "Vessora/Sheets/MigrationRelay.hpp"

#include "Vessora/Sheets/MigrationDraft.hpp"

#include <QCoreApplication>

namespace vessora {

MigrationRelay::MigrationRelay(MigrationDraft& draft) : draft_(&draft) {}

void MigrationRelay::phase(MigrationPhase phase) const {
    post([phase](MigrationDraft& draft) { draft.setPhase(phase); });
}

void MigrationRelay::finished(MigrationResult result) const {
    post([result = std::move(result)](MigrationDraft& draft) { draft.finish(result); });
}

void MigrationRelay::failed(std::string text) const {
    post([text = std::move(text)](MigrationDraft& draft) { draft.fail(text); });
}

void MigrationRelay::post(std::function<void(MigrationDraft&)> apply) const {
    // The application object outlives every worker job (the model waits for
    // them before it goes), and it is never the draft, which may be deleted
    // on the main thread while a worker posts; the guard is read there.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [draft = draft_, apply = std::move(apply)] {
            if (draft)
                apply(*draft);
        },
        Qt::QueuedConnection);
}

} // namespace vessora
