#pragma once
// JPEG XL through libjxl.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The first frame of the JPEG XL, upright (libjxl applies the orientation of its header), as
// 8-bit grey, RGB or with alpha. A file transcoded losslessly from JPEG is turned back into
// that JPEG and decoded as such, at a reduced DCT scale; any other at full size (libjxl 0.7's
// 1/8-detail pass is rendered at full size too, and costs about as much as the whole). Nothing
// when the size libjxl reads from the header is not paidForByBytes (checked before any pixel
// memory exists), or libjxl fails or runs out of data. Silent; on every processor.
std::optional<RawImage> decodeJxl(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
