// A release feed for the application's tests: answers from a queue (a
// release, an answer fault or a transport failure), can hold requests at a
// gate until released or stopped, and records the threads it was called
// from. Safe to call from the model's workers.
#pragma once

#include "VessoraCore/Updates/AppRelease.hpp"
#include "VessoraCore/Updates/ReleaseFeed.hpp"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace vessora {

class FakeReleaseFeed : public ReleaseFeed {
public:
    // A valid release; `minimum` is the feed's minimum system version.
    static AppRelease makeRelease(const std::string& version, std::int64_t build,
                                  bool homebrewAvailable = true,
                                  const std::string& minimum = "14.0");

    AppRelease fetch(std::stop_token stop) const override;

    void answer(AppRelease release);
    // UpdateCheckError, as for a refused answer.
    void failInvalid();
    // A transport error with curl's kind of text.
    void failTransport(std::string text = "Could not resolve host: vessora.app");

    // Requests wait at the gate until release() or their stop request.
    void hold();
    void release();
    bool waiting() const;

    int calls() const;
    // An answer was asked for that no test queued.
    int unexpected() const;
    bool calledFrom(std::thread::id thread) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable_any gateChanged_;
    mutable std::deque<std::function<AppRelease()>> answers_;
    bool held_ = false;
    mutable int waiting_ = 0;
    mutable int calls_ = 0;
    mutable int unexpected_ = 0;
    mutable std::set<std::thread::id> threads_;
};

} // namespace vessora
