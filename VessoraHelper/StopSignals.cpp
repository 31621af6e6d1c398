#include "VessoraHelper/StopSignals.hpp"

#include <cerrno>
#include <pthread.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace vessora {
namespace {

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

StopSignals::StopSignals() {
    const sigset_t set = stopSet();
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, &previous_); error != 0)
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    descriptor_ = HostServiceWire::Socket(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!descriptor_) {
        const int error = errno;
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        throw std::system_error(error, std::generic_category(), "signalfd");
    }
}

StopSignals::~StopSignals() {
    // Consumed here, so restoring the mask does not deliver them again.
    signalfd_siginfo info;
    while (::read(descriptor_.fd(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace vessora
