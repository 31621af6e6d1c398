// The pace of one bounded readiness wait of a starting environment.
//
// run() makes at most `attempts` attempts. After a failed one it pauses for
// at most `pause`, and ends the pause early when the server can answer (the
// wake condition turns true) or a watched process ends, so a start does not
// idle once its servers are up. When the condition already held before an
// attempt that failed (the server answered, only not yet as wanted: a 502
// while PHP-FPM starts, a stale socket file, an old token, a 503) the pause
// is served in full; and the pause after the last attempt lasts until the
// wait has taken at least attempts x pause. So a wait never gives up sooner
// than the same attempts at the fixed pace would.
#pragma once

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace vessora {

class ReadinessWait {
public:
    // What ends a pause early. `ready` is asked when a pause begins, each
    // time `events` (a non-blocking descriptor, or none) becomes readable -
    // what it holds is read and dropped - and every `recheck` unless that
    // is zero.
    struct Wake {
        std::function<bool()> ready;
        std::shared_ptr<UniqueFd> events;
        std::chrono::milliseconds recheck{0};
    };

    // The file exists: told by inotify on its folder, re-checked every
    // 10 ms where inotify is not available.
    static Wake fileAppears(const std::filesystem::path& file);
    // Every port accepts connections on 127.0.0.1, in the given order,
    // re-checked every 2 ms. A port seen accepting once is not probed again,
    // so a server gets at most one empty connection from a wait.
    static Wake portsAccept(std::vector<std::int64_t> ports);

    // `exits`: descriptors that become readable when a watched process
    // ends (ManagedProcess::exitDescriptor); negative ones are ignored.
    ReadinessWait(int attempts, std::chrono::milliseconds pause, Wake wake, std::vector<int> exits);

    // True as soon as `attempt` returns true; false once every attempt
    // failed and the last pause has passed. `check` runs before each attempt
    // and its error ends the wait.
    bool run(const std::function<void()>& check, const std::function<bool()>& attempt);

private:
    using Clock = std::chrono::steady_clock;
    // Until `end`; with `early`, also until the condition holds; with
    // `exits`, also until a watched process ends.
    void pauseUntil(Clock::time_point end, bool early, bool exits);

    int attempts_;
    std::chrono::milliseconds pause_;
    Wake wake_;
    std::vector<int> exits_;
};

} // namespace vessora
