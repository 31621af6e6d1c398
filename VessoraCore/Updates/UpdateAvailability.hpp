// What a published release means for this installation.
#pragma once

namespace vessora {

enum class UpdateAvailability {
    // Not newer than what is installed.
    current,
    // Newer, and this system can run it.
    available,
    // Newer, but the system is older than the release's minimum.
    requiresNewerMacOS,
};

} // namespace vessora
