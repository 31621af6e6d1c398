// Whether one connection to the helper is up. Each connection gets a state
// object of its own, so marking an old connection down never touches the
// current one. Readable from any thread at any time.
#pragma once

#include <mutex>

namespace vessora {

class HostConnectionState {
public:
    bool connected() const {
        std::lock_guard guard(lock_);
        return connected_;
    }
    void setConnected(bool connected) {
        std::lock_guard guard(lock_);
        connected_ = connected;
    }

private:
    mutable std::mutex lock_;
    bool connected_ = false;
};

} // namespace vessora
