#include "VessoraHelper/HelperMain.hpp"

#include "VessoraHelper/DescriptorBudget.hpp"
#include "VessoraHelper/HelperService.hpp"
#include "VessoraHelper/ListenSocket.hpp"
#include "VessoraHelper/StopSignals.hpp"
#include "VessoraHostProtocol/HostServiceIdentity.hpp"

#include <csignal>
#include <exception>
#include <unistd.h>

namespace vessora::HelperMain {

int run(const HelperSettings& settings) {
    if (::geteuid() != 0)
        return refusedStatus;
    try {
        HostServiceIdentity::teamID(settings.signing);
    } catch (const std::exception&) {
        return refusedStatus;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Before the service sizes its relay from the limit.
    DescriptorBudget::raiseSoftLimit();
    try {
        // Before the service starts its threads, which inherit the mask.
        const StopSignals stopSignals;
        std::optional<HostServiceWire::Socket> listener = ListenSocket::activated();
        if (!listener)
            listener = ListenSocket::bound(settings.socketPath, settings.socketFolderOwner);
        HelperService service(std::move(*listener), settings, stopSignals.fd());
        service.run();
    } catch (const std::exception&) {
        return noSocketStatus;
    }
    return 0;
}

} // namespace vessora::HelperMain
