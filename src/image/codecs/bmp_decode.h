#pragma once
// Windows bitmaps, read here: they are simple, and OpenCV's reader prints its failures.

#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// A BMP (BI_RGB at 1, 4, 8, 16, 24 or 32 bits, BI_BITFIELDS at 16 or 32, BI_RLE8 or BI_RLE4)
// as 8-bit RGB, or RGBA when an alpha mask is given and not every alpha is 0 (writers that
// fill it with zeros mean opaque). Nothing for embedded JPEG/PNG, or pixel data cut short
// (for RLE: ending before its end-of-bitmap code).
std::optional<RawImage> decodeBmp(std::string_view bytes);

}  // namespace velto
