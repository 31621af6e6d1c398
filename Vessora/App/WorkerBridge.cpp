#include "Vessora/App/WorkerBridge.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <QThread>

#include <algorithm>

namespace vessora {

WorkerBridge::WorkerBridge(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(std::max(minimumThreads, QThread::idealThreadCount()));
}

WorkerBridge::~WorkerBridge() {
    waitForDone();
}

void WorkerBridge::waitForDone() {
    pool_.waitForDone();
}

int WorkerBridge::maxThreadCount() const {
    return pool_.maxThreadCount();
}

std::string WorkerBridge::errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return L10n::text("An unknown error occurred.");
    }
}

void WorkerBridge::deliver(std::function<void()> answer) {
    // The bridge outlives every job (its destructor waits for them), so it is
    // a safe target; the receiver's guard is checked on the main thread.
    QMetaObject::invokeMethod(this, std::move(answer), Qt::QueuedConnection);
}

} // namespace vessora
