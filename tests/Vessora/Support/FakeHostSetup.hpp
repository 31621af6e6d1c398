// A helper registration for the application's tests: the status and the
// refresh flag are whatever the test sets; registerHelper() moves the status
// to `statusAfterRegister` unless a failure is set; unregister() makes it
// notRegistered unless a failure is set; every call is counted with the
// thread it came from.
#pragma once

#include "Vessora/App/HostSetup.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace vessora {

class FakeHostSetup : public HostSetup {
public:
    void setStatus(ServiceStatus status) {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    void setNeedsRefresh(bool needsRefresh) {
        std::lock_guard lock(mutex_);
        needsRefresh_ = needsRefresh;
    }
    void setStatusAfterRegister(ServiceStatus status) {
        std::lock_guard lock(mutex_);
        afterRegister_ = status;
    }
    void failRegister(std::optional<std::string> text) {
        std::lock_guard lock(mutex_);
        registerFailure_ = std::move(text);
    }
    void failUnregister(std::optional<std::string> text) {
        std::lock_guard lock(mutex_);
        unregisterFailure_ = std::move(text);
    }
    int calls(const std::string& name) const {
        std::lock_guard lock(mutex_);
        const auto entry = calls_.find(name);
        return entry == calls_.end() ? 0 : entry->second;
    }
    bool calledFrom(std::thread::id thread) const {
        std::lock_guard lock(mutex_);
        return threads_.count(thread) != 0;
    }

    ServiceStatus status() override {
        std::lock_guard lock(mutex_);
        count("status");
        return status_;
    }
    bool needsRefresh() override {
        std::lock_guard lock(mutex_);
        count("needsRefresh");
        return needsRefresh_;
    }
    void registerHelper() override {
        std::lock_guard lock(mutex_);
        count("registerHelper");
        if (registerFailure_)
            throw VessoraError(*registerFailure_);
        status_ = afterRegister_;
        needsRefresh_ = false;
    }
    void unregister() override {
        std::lock_guard lock(mutex_);
        count("unregister");
        if (unregisterFailure_)
            throw VessoraError(*unregisterFailure_);
        status_ = ServiceStatus::notRegistered;
    }
    void openApproval() override {
        std::lock_guard lock(mutex_);
        count("openApproval");
    }

private:
    // Called with the mutex held.
    void count(const std::string& name) {
        ++calls_[name];
        threads_.insert(std::this_thread::get_id());
    }

    mutable std::mutex mutex_;
    ServiceStatus status_ = ServiceStatus::notRegistered;
    ServiceStatus afterRegister_ = ServiceStatus::enabled;
    bool needsRefresh_ = false;
    std::optional<std::string> registerFailure_;
    std::optional<std::string> unregisterFailure_;
    std::map<std::string, int> calls_;
    std::set<std::thread::id> threads_;
};

} // namespace vessora
