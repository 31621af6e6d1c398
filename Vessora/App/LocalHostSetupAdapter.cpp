#include "Vessora/App/LocalHostSetupAdapter.hpp"

namespace vessora {

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
