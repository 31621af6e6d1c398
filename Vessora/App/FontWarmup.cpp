#include "Vessora/App/FontWarmup.hpp"

#include <fontconfig/fontconfig.h>

namespace vessora {

// The library keeps one configuration for the process and builds it once,
// whichever thread asks first.
FontWarmup::FontWarmup() : thread_([] { FcInit(); }) {}

} // namespace vessora
