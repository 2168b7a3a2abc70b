#pragma once
// JPEG through libjpeg-turbo, which can decode straight to a reduced size.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The JPEG at the smallest DCT scale n/8 (n = 1-8) whose short side is still >= minShortSide,
// 8/8 when none is, as 8-bit RGB, with the orientation of its Exif APP1 segment. Nothing when
// libjpeg fails or the data ends before the EOI marker (libjpeg would pad a cut-off image with
// grey). Silent: libjpeg's messages are dropped.
std::optional<RawImage> decodeJpeg(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
