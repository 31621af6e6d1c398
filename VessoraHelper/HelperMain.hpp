// The helper program's entry: refuses to run (status 77) unless it runs as
// root with a usable signing team, then serves on the socket systemd passed
// or on one it binds itself. SIGTERM and SIGINT stop it after the request in
// progress is done and answered (status 0). It prints and logs nothing.
#pragma once

#include "VessoraHelper/HelperSettings.hpp"

namespace vessora::HelperMain {

inline constexpr int refusedStatus = 77;
inline constexpr int noSocketStatus = 1;

// The exit status; returns only when the service cannot start or stops.
int run(const HelperSettings& settings);

} // namespace vessora::HelperMain
