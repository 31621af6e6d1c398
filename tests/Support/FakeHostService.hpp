// A helper client for engine tests: records every request it is given,
// answers with an error while `failure` is set, and can hold apply() until
// the test releases it (to keep an engine operation waiting), at most for
// the limit hold() was given.
#pragma once

#include "VessoraCore/Engine/EngineHostService.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class FakeHostService : public EngineHostService {
public:
    void apply(const HostServiceRequest& request) override {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        // Bounded, so a broken test cannot hang the suite.
        changed_.wait_for(lock, holdLimit_, [&] { return !held_; });
        --waiting_;
        requests_.push_back(request);
        if (failure_)
            throw VessoraError(*failure_);
        connected_ = true;
    }
    bool isConnected() override {
        std::lock_guard lock(mutex_);
        return connected_;
    }
    void closeConnection() override {
        std::lock_guard lock(mutex_);
        connected_ = false;
        ++closed_;
    }

    std::vector<HostServiceRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    void fail(std::optional<std::string> text) {
        std::lock_guard lock(mutex_);
        failure_ = std::move(text);
    }
    void setConnected(bool connected) {
        std::lock_guard lock(mutex_);
        connected_ = connected;
    }
    int closed() const {
        std::lock_guard lock(mutex_);
        return closed_;
    }
    void hold(std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::lock_guard lock(mutex_);
        held_ = true;
        holdLimit_ = limit;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // True once a call waits inside apply().
    bool waitUntilHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return waiting_ > 0; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HostServiceRequest> requests_;
    std::optional<std::string> failure_;
    bool connected_ = false;
    bool held_ = false;
    std::chrono::seconds holdLimit_{20};
    int waiting_ = 0;
    int closed_ = 0;
};

} // namespace vessora
