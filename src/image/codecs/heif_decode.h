#pragma once
// HEIF (HEIC) and AVIF through libheif.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The primary image, or its smallest thumbnail whose short side is >= minShortSide and whose
// rotation and mirroring properties (irot, imir) are those of the primary, as 8-bit RGB or RGBA. libheif applies the file's own rotation,
// mirroring and cropping, so the result has orientation 1: Exif orientation inside a HEIF
// file is only a copy of those and must not be applied again. Nothing when the primary
// image's size is unreadable or not acceptableSize, or libheif fails.
std::optional<RawImage> decodeHeif(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
