// The helper's registration with the service manager as the application
// model uses it. LocalHostSetupAdapter is the real one; tests give a fake.
//
// Every call may block: status() runs the service manager's query (seconds
// at worst), registerHelper(), unregister() and openApproval() wait for the
// user's password prompt (minutes). The model calls them on worker threads
// only. status() and needsRefresh() never throw; the others throw their
// failure with a finished sentence as what().
#pragma once

#include "VessoraCore/LocalAddresses/ServiceManager.hpp"

namespace vessora {

class HostSetup {
public:
    virtual ~HostSetup() = default;

    virtual ServiceStatus status() = 0;
    // The installed helper differs from the one registered last.
    virtual bool needsRefresh() = 0;
    virtual void registerHelper() = 0;
    virtual void unregister() = 0;
    virtual void openApproval() = 0;
};

} // namespace vessora
