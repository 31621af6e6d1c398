#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include "VessoraCore/Updates/UpdateCheckCancelled.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace vessora {

AppRelease FakeReleaseFeed::makeRelease(const std::string& version, std::int64_t build,
                                        bool homebrewAvailable, const std::string& minimum) {
    return AppRelease::decode(nlohmann::json{
        {"schemaVersion", 1},
        {"version", version},
        {"build", build},
        {"minimumMacOS", minimum},
        {"sha256", std::string(64, 'a')},
        {"homebrewAvailable",
         homebrewAvailable}}.dump());
}

AppRelease FakeReleaseFeed::fetch(std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    ++calls_;
    threads_.insert(std::this_thread::get_id());
    ++waiting_;
    gateChanged_.wait(lock, stop, [this] { return !held_; });
    --waiting_;
    if (stop.stop_requested())
        throw UpdateCheckCancelled();
    if (answers_.empty()) {
        ++unexpected_;
        throw std::logic_error("no answer queued");
    }
    auto answer = std::move(answers_.front());
    answers_.pop_front();
    lock.unlock();
    return answer();
}

void FakeReleaseFeed::answer(AppRelease release) {
    std::lock_guard lock(mutex_);
    answers_.push_back([release] { return release; });
}

void FakeReleaseFeed::failInvalid() {
    std::lock_guard lock(mutex_);
    answers_.push_back([]() -> AppRelease { throw UpdateCheckError::invalidResponse(); });
}

void FakeReleaseFeed::failTransport(std::string text) {
    std::lock_guard lock(mutex_);
    answers_.push_back([text]() -> AppRelease { throw std::runtime_error(text); });
}

void FakeReleaseFeed::hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void FakeReleaseFeed::release() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    gateChanged_.notify_all();
}

bool FakeReleaseFeed::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_ > 0;
}

int FakeReleaseFeed::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int FakeReleaseFeed::unexpected() const {
    std::lock_guard lock(mutex_);
    return unexpected_;
}

bool FakeReleaseFeed::calledFrom(std::thread::id thread) const {
    std::lock_guard lock(mutex_);
    return threads_.count(thread) > 0;
}

} // namespace vessora
