// The system's service manager as local host setup sees it: the registration
// status of the helper's service and the calls that register and unregister
// it. SystemdServiceManager is the real one; tests give a fake.
#pragma once

#include <stdexcept>
#include <string>

namespace vessora {

enum class ServiceStatus {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2,
    notFound = 3,
};

// A refused registration call. what() is the manager's own description;
// `notApproved` marks a refusal because the user did not give approval.
class ServiceManagerError : public std::runtime_error {
public:
    enum class Code { failed, notApproved };

    ServiceManagerError(Code code, const std::string& description)
        : std::runtime_error(description), code_(code) {}

    Code code() const { return code_; }

private:
    Code code_;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    // Read anew on every call; never throws (an unreadable state is notFound).
    virtual ServiceStatus status() = 0;
    // Both block until the manager has finished; throw ServiceManagerError.
    virtual void registerService() = 0;
    virtual void unregisterService() = 0;
    // Asks the user to approve the registered service; blocks while the
    // approval prompt is up. Failures are not reported: status() tells.
    virtual void openApproval() = 0;
};

} // namespace vessora
