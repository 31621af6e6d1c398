// Sets up, on threads of their own while Qt sets up the application, the
// libraries the first window needs that build their state once per process:
// fontconfig's configuration (parsed at the first font lookup otherwise), the
// string tables, and the crypto library with its digest (the engine's opening
// hashes the data folder's path). Each builds that state once, whichever
// thread asks first, so the window waits only for what is not ready yet.
// Joined when it goes out of scope.
#pragma once

#include <thread>

namespace vessora {

class StartupWarmup {
public:
    StartupWarmup();

private:
    std::jthread fonts_;
    std::jthread texts_;
};

} // namespace vessora
