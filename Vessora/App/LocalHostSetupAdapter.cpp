#include "Vessora/App/LocalHostSetupAdapter.hpp"

#include "Vessora/App/SystemdBusServiceManager.hpp"

namespace vessora {

LocalHostSetup& LocalHostSetupAdapter::standardSetup() {
    static LocalHostSetup setup(LocalHostSetup::Options{
        HelperInstallation::installed(), std::make_shared<SystemdBusServiceManager>(), nullptr});
    return setup;
}

LocalHostSetupAdapter::LocalHostSetupAdapter(LocalHostSetup& setup) : setup_(setup) {}

ServiceStatus LocalHostSetupAdapter::status() {
    return setup_.status();
}

bool LocalHostSetupAdapter::needsRefresh() {
    // An unreadable defaults file reads as "register again", the safe answer.
    try {
        return setup_.needsRefresh();
    } catch (const std::exception&) {
        return true;
    }
}

void LocalHostSetupAdapter::registerHelper() {
    setup_.registerHelper();
}

void LocalHostSetupAdapter::unregister() {
    setup_.unregister();
}

void LocalHostSetupAdapter::openApproval() {
    setup_.openApproval();
}

} // namespace vessora
