#include "Vessora/App/StartupWarmup.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"

#include <fontconfig/fontconfig.h>

#include <exception>

namespace vessora {

StartupWarmup::StartupWarmup()
    : fonts_([] { FcInit(); }), texts_([] {
          L10n::preload();
          // A failure here is met again, and reported, where a digest is used.
          try {
              (void)Sha256::hex("");
          } catch (const std::exception&) {
          }
      }) {}

} // namespace vessora
