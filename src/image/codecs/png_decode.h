#pragma once
// PNG through libpng directly: OpenCV's PNG reader lets libpng print its warnings to stderr.

#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The PNG at full size: palettes and low bit depths expanded to 8 bits, transparency to an
// alpha channel, 16-bit samples kept; with the orientation of its eXIf chunk. Nothing when
// libpng fails or the data ends before the IEND chunk. Silent.
std::optional<RawImage> decodePng(std::string_view bytes);

}  // namespace velto
