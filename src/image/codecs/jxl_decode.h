#pragma once
// JPEG XL through libjxl.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The first frame of the JPEG XL, upright (libjxl applies the orientation of its header), as
// 8-bit grey, RGB or with alpha. A file transcoded losslessly from JPEG is turned back into
// that JPEG and decoded as such, at a reduced DCT scale; any other file whose short side is at
// least 8 x minShortSide is taken from its 1/8-detail pass (DC) when it has one, which also
// means such a file still gives a picture when cut short after that pass. Nothing when the
// size libjxl reads from the header is not acceptableSize (checked before any pixel memory
// exists), or libjxl fails or runs out of data. Silent; single-threaded.
std::optional<RawImage> decodeJxl(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
