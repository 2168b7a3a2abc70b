#include "metadata/exiv2_setup.h"

#include <exiv2/exiv2.hpp>

#include <mutex>

namespace velto {

void prepareExiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(nullptr);
    // Exiv2 0.27 reads ISO media files (HEIF, AVIF) only when asked to.
    Exiv2::enableBMFF(true);
    Exiv2::XmpParser::initialize();
  });
}

}  // namespace velto
