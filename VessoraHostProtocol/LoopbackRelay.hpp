// A plain TCP relay on 127.0.0.1: each connection accepted on a listen port
// is joined to a new connection to 127.0.0.1 on its target port, and bytes
// are copied both ways untouched (TLS passes through). By default ports 80
// and 443 forward to the router's 8088 and 8448.
//
// Bytes move through a 256 KiB pipe with splice(2), so the relay's thread
// copies nothing itself; when a pipe cannot be made (or zeroCopy is off) a
// direction reads into and writes from its own 64 KiB buffer instead. Either
// way what is in flight per direction is bounded and a slow reader slows its
// writer. The relay's thread blocks SIGPIPE (splice has no MSG_NOSIGNAL).
//
// One thread runs everything of a relay (listeners, connections, timers).
// start() either leaves every listener listening or throws with everything
// it opened closed again; stop() closes listeners and connections and returns
// when the relay's thread has finished. Call both from outside the relay's own
// thread, one at a time.
//
// At most maxPairs connections are relayed at once; a further one is closed
// at once. A connection with no data received in either direction for the
// idle limit is closed at the next check (checks run every idle limit, so
// between one and two limits after the last data). One end's end of stream
// is passed on to the other; the pair closes when both have ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vessora {

struct RelayEndpoint {
    std::uint16_t listenPort;
    std::uint16_t targetPort;
};

class LoopbackRelay {
public:
    static constexpr std::size_t defaultMaxPairs = 256;
    static constexpr std::chrono::seconds defaultIdleLimit{300};
    static std::vector<RelayEndpoint> defaultEndpoints() { return {{80, 8088}, {443, 8448}}; }

    explicit LoopbackRelay(std::vector<RelayEndpoint> endpoints = defaultEndpoints(),
                           std::size_t maxPairs = defaultMaxPairs,
                           std::chrono::nanoseconds idleLimit = defaultIdleLimit,
                           bool zeroCopy = true);
    ~LoopbackRelay(); // stops
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    // Listens on every endpoint, in order. A socket that cannot be created
    // throws its std::system_error unchanged; a port that cannot be bound or
    // listened on throws HostServiceError::portsUnavailable. Either way every
    // listener opened by this call is closed again. Does nothing while running.
    void start();

    // Closes listeners and relayed connections; never fails. A second call
    // returns at once.
    void stop();

    bool running() const;

    // The relayed connections open right now (0 while stopped), and how many
    // of them copy through buffers instead of pipes.
    std::size_t pairCount() const;
    std::size_t bufferedPairCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vessora
