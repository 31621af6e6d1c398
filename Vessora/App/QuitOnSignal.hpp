// Turns SIGTERM, SIGINT and SIGHUP (logout, Ctrl-C in a terminal, a service
// manager stopping the session) into an ordinary quit of the Qt event loop,
// so the program leaves through the same road as when its window closes.
// The handler only writes one byte to a pipe; the main thread reads it.
// One instance per process.
#pragma once

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace vessora {

class QuitOnSignal : public QObject {
    Q_OBJECT

public:
    // Throws std::system_error when the pipe or a handler cannot be set up.
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace vessora
