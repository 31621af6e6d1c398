// Turns SIGTERM, SIGINT and SIGHUP (logout, Ctrl-C in a terminal, a closed
// terminal, a service manager stopping the session) into quitRequested() on
// the main thread, which the program connects to the same orderly quit as
// its close button: the servers run in process groups of their own, so a
// plain exit would leave them behind. The handler only writes one byte to a
// pipe; the main thread reads it. One instance per process.
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

signals:
    // Once per batch of signals read from the pipe.
    void quitRequested();

private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace vessora
