// SIGTERM (how systemd stops the helper) and SIGINT as a descriptor instead
// of a handler: while an instance lives both are blocked in the creating
// thread and in every thread it starts afterwards, and arrive through a
// signalfd that the service polls, so a stop can wait for the hosts file
// transaction in progress. Create it before any other thread exists. The
// destructor discards what arrived and restores the earlier signal mask.
#pragma once

#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <signal.h>

namespace vessora {

class StopSignals {
public:
    // Throws std::system_error.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable once a stop signal arrived (non-blocking, close-on-exec).
    int fd() const { return descriptor_.fd(); }

private:
    sigset_t previous_{};
    HostServiceWire::Socket descriptor_;
};

} // namespace vessora
