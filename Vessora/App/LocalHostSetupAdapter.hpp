// The real helper registration behind HostSetup: LocalHostSetup with the
// installed layout, systemd (its status read over D-Bus) and the standard
// user defaults.
#pragma once

#include "Vessora/App/HostSetup.hpp"
#include "VessoraCore/LocalAddresses/LocalHostSetup.hpp"

namespace vessora {

class LocalHostSetupAdapter : public HostSetup {
public:
    explicit LocalHostSetupAdapter(LocalHostSetup& setup = standardSetup());

    // The instance the application uses.
    static LocalHostSetup& standardSetup();

    ServiceStatus status() override;
    bool needsRefresh() override;
    void registerHelper() override;
    void unregister() override;
    void openApproval() override;

private:
    LocalHostSetup& setup_;
};

} // namespace vessora
