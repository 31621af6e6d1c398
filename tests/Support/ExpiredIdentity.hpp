// Ages an environment's HTTPS identity in place: its certificate is signed
// again with its own key so that it ended yesterday, and the DER file is
// written to match, so only the expiry check fails.
#pragma once

#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>

namespace vessora {

// `scratch` is a folder of the test's own for the intermediate file.
void expireIdentity(const StackPaths& identity, const std::filesystem::path& scratch);

} // namespace vessora
