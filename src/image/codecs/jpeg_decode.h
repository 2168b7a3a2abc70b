#pragma once
// JPEG through libjpeg-turbo, which can decode straight to a reduced size.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The JPEG at the smallest DCT scale n/8 (n = 1-8) whose short side is still >= minShortSide,
// 8/8 when none is, as 8-bit RGB, with the orientation of its Exif APP1 segment. Nothing when
// libjpeg fails, the file ends before its EOI marker, coded data is missing or damaged before
// the last 1/50 of the rows (libjpeg would fill the rest with grey or noise), the coded data
// cannot fill the frame, or the file asks for more than its bytes pay for: over 100 scans,
// 448 MiB of libjpeg memory, or scans that cover the picture in next to no data. Silent:
// libjpeg's messages are dropped.
std::optional<RawImage> decodeJpeg(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
