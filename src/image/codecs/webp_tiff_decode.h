#pragma once
// WebP through libwebp and TIFF through libtiff, both silent. (OpenCV's imdecode would do
// either, but prints its failures to std::cerr, bypassing its own logger.)

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The still WebP as 8-bit RGB, or RGBA when it has alpha, with the orientation of its EXIF
// chunk; scaled down while decoding by the largest whole factor that keeps the short side at
// least minShortSide. Of an animated WebP, the first frame on its transparent canvas as RGBA,
// canvas and frame reduced by that same factor (ReducedCanvas), so a huge canvas around a small
// frame costs no more than the frame. Nothing when libwebp fails, including on cut-off files.
std::optional<RawImage> decodeWebp(std::string_view bytes, int64_t minShortSide);

// The first page of a TIFF at full size through libtiff's RGBA reader (any photometric,
// compression and bit depth it knows; 16-bit samples rounded to 8) as 8-bit RGB, or
// premultiplied RGBA when ExtraSamples marks alpha; 32-bit floating-point grey or RGB, which
// that reader refuses, as 16-bit samples (0-1 clamped); with the orientation of its
// Orientation tag. Nothing when libtiff fails.
std::optional<RawImage> decodeTiff(std::string_view bytes);

}  // namespace velto
